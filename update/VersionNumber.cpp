#include "VersionNumber.h"

float versionNumber(const QString& text)
{
    const QString trimmed = text.trimmed();
    qsizetype end = 0;
    if (end < trimmed.size() && (trimmed[end] == u'-' || trimmed[end] == u'+'))
        ++end;
    bool dot = false;
    while (end < trimmed.size() && (trimmed[end].isDigit() || (!dot && trimmed[end] == u'.'))) {
        dot = dot || trimmed[end] == u'.';
        ++end;
    }
    bool ok = false;
    const float value = trimmed.left(end).toFloat(&ok);
    return ok ? value : 0.0F;
}
