#pragma once

#include <QtGlobal>
#include <functional>

namespace FileCopy {
// Copies size bytes of in, from offset from, to out at its current place: in
// the kernel where the two file systems allow it, else through a buffer, a
// piece at a time so that stopped() is heard. 0, or the system's error
// (ECANCELED when stopped, EIO when in ends early).
[[nodiscard]] int range(int in, qint64 from, qint64 size, int out,
                        const std::function<bool()>& stopped = {});
} // namespace FileCopy
