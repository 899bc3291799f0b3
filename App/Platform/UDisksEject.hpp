#pragma once
// Ejecting a card the way the desktop does: UDisks2 on the system bus unmounts
// the file system mounted at a folder (Filesystem.Unmount) and then powers its
// drive off where the drive can (Drive.PowerOff), so that the reader may be
// pulled. Where UDisks2 does not answer or does not know the mount, `umount`
// unmounts it. Blocking calls that return at once when stopped; any thread
// (the bus connection is thread-safe).
#include <QDBusConnection>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace tarvik::UDisksEject {

struct Outcome {
    enum class Kind { ejected, failed, unknown };
    Kind kind = Kind::unknown;  // unknown: UDisks2 absent or the mount not among its devices
    std::string reason;         // failed only: UDisks2's message
};

// The reason of an eject stopped before UDisks2 answered.
inline constexpr std::string_view stoppedReason = "取り出しを中断しました";

Outcome eject(const QDBusConnection& bus, const std::filesystem::path& mountPoint,
              std::stop_token stop);

// `umount` of the folder; its complaint when it failed.
std::optional<std::string> unmountWithoutUDisks(const std::filesystem::path& mountPoint,
                                                std::stop_token stop);

}  // namespace tarvik::UDisksEject
