#include "FileMover.h"

#include <QFile>
#include <filesystem>
#include <optional>
#include <random>

namespace fs = std::filesystem;

namespace {

fs::path toPath(const QString& path)
{
    return fs::path(QFile::encodeName(path).toStdString());
}

fs::path stagingPathBeside(const fs::path& destination)
{
    static thread_local std::mt19937 random{std::random_device{}()};
    const std::string name =
        "." + destination.filename().string() + ".partial-" + std::to_string(random() % 1000000);
    return destination.parent_path() / name;
}

// Puts the source's bytes at a hidden path beside the destination. Renames when
// both lie on one file system, copies otherwise. Returns the staged path.
std::optional<fs::path> stage(const fs::path& source, const fs::path& destination, bool& copied)
{
    const fs::path staged = stagingPathBeside(destination);
    std::error_code ec;
    fs::rename(source, staged, ec);
    if (!ec) {
        copied = false;
        return staged;
    }
    if (ec != std::errc::cross_device_link)
        return std::nullopt;
    if (!fs::copy_file(source, staged, fs::copy_options::none, ec) || ec) {
        fs::remove(staged, ec);
        return std::nullopt;
    }
    copied = true;
    return staged;
}

bool finish(const fs::path& source, const fs::path& staged, const fs::path& destination,
            bool copied, bool replacing)
{
    std::error_code ec;
    if (replacing && fs::symlink_status(destination, ec).type() != fs::file_type::not_found) {
        fs::remove_all(destination, ec);
        if (ec) {
            fs::remove(staged, ec);
            return false;
        }
    }
    fs::rename(staged, destination, ec);
    if (ec) {
        std::error_code ignored;
        if (copied)
            fs::remove(staged, ignored);
        else
            fs::rename(staged, source, ignored);
        return false;
    }
    if (copied)
        fs::remove(source, ec);
    return true;
}

bool moveTo(const QString& source, const QString& destination, bool replacing)
{
    const fs::path from = toPath(source);
    const fs::path to = toPath(destination);
    std::error_code ec;
    if (!fs::is_regular_file(from, ec))
        return false;
    if (!replacing && fs::symlink_status(to, ec).type() != fs::file_type::not_found)
        return false;
    bool copied = false;
    const auto staged = stage(from, to, copied);
    if (!staged)
        return false;
    return finish(from, *staged, to, copied, replacing);
}

} // namespace

bool FileMover::move(const QString& source, const QString& destination)
{
    return moveTo(source, destination, false);
}

bool FileMover::moveReplacing(const QString& source, const QString& destination)
{
    return moveTo(source, destination, true);
}

bool FileMover::itemExists(const QString& path)
{
    std::error_code ec;
    return fs::symlink_status(toPath(path), ec).type() != fs::file_type::not_found;
}
