#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

// The readers under fuzzing take a path, as they do in the application: the
// input is written to a file of this process's own, in memory where the
// system has a folder for it.
namespace FuzzFile {

[[nodiscard]] QString write(const std::uint8_t* data, std::size_t size);

} // namespace FuzzFile
