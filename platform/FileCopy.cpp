#include "FileCopy.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>
#include <vector>

int FileCopy::range(int in, qint64 from, qint64 size, int out, const std::function<bool()>& stopped)
{
    constexpr qint64 kPiece = 64 << 20;
    loff_t source = from;
    bool inKernel = true;
    std::vector<char> buffer;
    while (size > 0) {
        if (stopped && stopped())
            return ECANCELED;
        const auto piece = static_cast<size_t>(std::min(size, kPiece));
        ssize_t n = -1;
        if (inKernel) {
            n = ::copy_file_range(in, &source, out, nullptr, piece, 0);
            if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                          errno == EOPNOTSUPP)) {
                inKernel = false;
                buffer.resize(1 << 20);
                continue;
            }
        } else {
            n = ::pread(in, buffer.data(), std::min(buffer.size(), piece), source);
            for (ssize_t written = 0; n > 0 && written < n;) {
                const ssize_t w =
                    ::write(out, buffer.data() + written, static_cast<size_t>(n - written));
                if (w < 0 && errno != EINTR)
                    return errno;
                written += std::max<ssize_t>(w, 0);
            }
            if (n > 0)
                source += n;
        }
        if (n == 0)
            return EIO;
        if (n < 0 && errno != EINTR)
            return errno;
        size -= std::max<ssize_t>(n, 0);
    }
    return 0;
}
