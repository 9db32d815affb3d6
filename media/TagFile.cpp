#include "TagFile.h"

#include "AudioKind.h"
#include "Mp4Box.h"

#include <QFile>
#include <taglib/mpegfile.h>

TagLib::FileRef TagFile::open(const QString& path, bool readOnly)
{
    const QByteArray name = QFile::encodeName(path);
    TagLib::FileRef file;
    if (AudioKind::isOther(path)) {
        if (!Mp4Box::fileNestsWithin(path, Mp4Box::kDeepest))
            return {};
        file = TagLib::FileRef(name.constData(), false);
    } else {
        file = TagLib::FileRef(new TagLib::MPEG::File(name.constData(), false));
    }
    if (file.isNull() || (!readOnly && file.file()->readOnly()))
        return {};
    return file;
}
