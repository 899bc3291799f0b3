// Sending albums exported to an ordinary folder onto a card: the card is
// cleaned, the files still missing must fit, each file is copied under its
// card name through a hidden temporary file, and the card is cleaned again.
// Blocks the calling thread for the whole copy (run it on a worker); the
// progress callback runs on that thread. Cancellation is a stop token read
// before each file: a cancelled send returns its counts normally, and the file
// being copied when it fired is finished if it can be within half a second
// (PosixFS::stopGrace), else its temporary file is removed: never left
// half-written. It is also heeded inside each file read to decide where the
// albums go: a stop then copies nothing. The cleanings before and after also
// remove what an earlier copy cut short by a kill left behind.
#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <stop_token>
#include <string>
#include <vector>

#include "Core/SDCard/CardCleaning.hpp"
#include "Core/SDCard/ExportedAlbums.hpp"

namespace tarvik::SDCardTools {

struct SendResult {
    std::int64_t copied = 0;   // files copied
    std::int64_t skipped = 0;  // files left alone: the card held one of the same size
    std::int64_t bytes = 0;    // sizes of the copied files added up
    CleanResult clean;         // both cleaning runs added up
    // Files not copied because another file of their album has the same
    // card path (ignoring case and normalisation): album relativePath + "/" + name.
    std::vector<std::string> failed;
    // Album relativePath -> the card folder it went to, as the card names it.
    std::map<std::string, std::string> places = {};

    bool operator==(const SendResult&) const = default;
};

// Refusal to start: the files still to copy need more room than the card has.
class SendError : public std::exception {
public:
    enum class Kind { notEnoughSpace };

    static SendError notEnoughSpace(std::int64_t need, std::int64_t free);

    Kind kind() const { return kind_; }
    std::int64_t need() const { return need_; }
    std::int64_t free() const { return free_; }
    // "SD カードの空きが足りません（必要 1.2 GB / 空き 532 KB）"
    const char* what() const noexcept override { return description_.c_str(); }
    std::string description() const { return description_; }

    bool operator==(const SendError& other) const {
        return kind_ == other.kind_ && need_ == other.need_ && free_ == other.free_;
    }

private:
    SendError(Kind kind, std::int64_t need, std::int64_t free);

    Kind kind_;
    std::int64_t need_;
    std::int64_t free_;
    std::string description_;
};

// Told before each file with (files done, files in all, the file's name in
// NFC), and once at the end with (files done, files in all, "").
using SendProgress =
    std::function<void(std::int64_t done, std::int64_t total, const std::string& name)>;

// Reads the room left on the volume holding a path (freeBytes by default).
using FreeSpace = std::function<std::int64_t(const std::filesystem::path&)>;

// The card root is used as it is named, byte for byte; the folders below it
// are found as the card matches names, new ones made in NFC. A card root
// that is no folder throws "フォルダを作れません: " before anything is
// touched. Files of one album whose card paths collide are never copied:
// each is named in `failed`, counted in no total, and the others are copied.
// Each album goes to its own folder wherever its files are, else to its card
// name or the first free numbered form of it (CardAlbumPlaces): another
// album's folder or file is never written over nor merged into, and albums
// that share a card name each get one; `places` tells where each went.
// Throws ConversionError "書き出し先のフォルダがリンクです: " + the link when
// a folder above an album's is a link, and SendError when the files don't
// fit (nothing copied then), or the file layer's PosixFS::NoSpace or
// ConversionError when a copy fails (files copied before it stay; no second
// cleaning).
SendResult send(const std::vector<Album>& albums, const std::filesystem::path& cardRoot,
                const SendProgress& progress = {}, std::stop_token stop = {});

// The same with the card's free space read through `freeSpace`, for a caller
// that must stand in a card of another size.
SendResult send(const std::vector<Album>& albums, const std::filesystem::path& cardRoot,
                const SendProgress& progress, const FreeSpace& freeSpace, std::stop_token stop);

}  // namespace tarvik::SDCardTools
