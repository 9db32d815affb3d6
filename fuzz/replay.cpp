// Runs a fuzz target's entry on each file named, and on each file in each
// folder named: the suite's replay of the inputs that once found a fault,
// without libFuzzer.
#include <QByteArray>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool replay(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        return false;
    }
    const QByteArray bytes = file.readAll();
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                           static_cast<std::size_t>(bytes.size()));
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    int count = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        const QString named = QFile::decodeName(argv[i]);
        if (!QFileInfo(named).isDir()) {
            ok = replay(named) && ok;
            ++count;
            continue;
        }
        QDirIterator it(named, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            ok = replay(it.next()) && ok;
            ++count;
        }
    }
    std::printf("%d inputs replayed\n", count);
    return ok ? 0 : 1;
}
