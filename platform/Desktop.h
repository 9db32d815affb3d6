#pragma once

#include <QString>

// Where finished books go unless the user says otherwise.
namespace Desktop {
// The desktop's own folder, else ~/Desktop.
[[nodiscard]] QString folder();
// A book's place on the Desktop; a slash in its name would lead out of the
// folder, so it stands as a dash.
[[nodiscard]] QString pathFor(QString name, const QString& extension);
} // namespace Desktop
