#pragma once

#include <QMap>
#include <QString>

// The encoder's options under "bitrate", "sampleFrequency" and "channels".
using EncoderOptions = QMap<QString, QString>;
