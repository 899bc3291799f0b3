// Edits the tags of a 2 GiB FLAC file (a real ffmpeg file whose audio frames
// are repeated up to that size) through the tag editor and through the
// field editor, then those of an M4A file of the same size whose moov stands
// before its media data (which the edit moves), and prints the wall time
// and the peak resident memory of each. The targets: a peak below 64 MiB
// however large the file, and the M4A edit within twice the FLAC edit's time.
//
//   tarvik_tagedit_bench [GiB] [sparse]    (default: 2, the audio written out)
//
// "sparse" leaves the repeated audio as a hole: it measures the memory of a
// larger file cheaply, not the time of copying real audio, and shows how
// much of each edited file is on the disk (its holes kept).

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "Core/Convert/FFmpegLocator.hpp"
#include "Core/Convert/TagEditor.hpp"
#include "Core/Convert/TagFields.hpp"
#include "bench/BenchSupport.hpp"

namespace {

using namespace tarvik;
namespace fs = std::filesystem;

double peakMiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

void fill(int descriptor, const std::string& block, std::uint64_t at, std::uint64_t size,
          bool sparse) {
    if (sparse) {
        if (::ftruncate(descriptor, static_cast<off_t>(size)) != 0) std::perror("ftruncate");
        return;
    }
    for (; at < size; at += block.size()) {
        const std::size_t length =
            static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - at));
        if (::pwrite(descriptor, block.data(), length, static_cast<off_t>(at)) < 0) {
            std::perror("pwrite");
            break;
        }
    }
}

std::string contentOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The small file, then its audio frames again and again up to `size` bytes,
// through a buffer of a few MiB so the generation itself stays small.
void grow(const fs::path& file, std::uint64_t size, bool sparse) {
    const std::string small = contentOf(file);
    const std::size_t audio = small.find("\xFF\xF8");
    std::string block;
    while (block.size() < (std::size_t{4} << 20)) block += small.substr(audio);
    const int descriptor = ::open(file.c_str(), O_WRONLY);
    fill(descriptor, block, small.size(), size, sparse);
    ::close(descriptor);
}

// An M4A whose moov comes first and whose media data is last: the "free"
// atom ffmpeg leaves before "mdat" and its header become one 64-bit header
// (the samples stay in place), and the media data grows to `size` bytes
// with copies of itself, which no chunk points into.
void growM4A(const fs::path& file, std::uint64_t size, bool sparse) {
    std::string small = contentOf(file);
    const std::size_t free = small.find("mdat") - 12;
    small[free + 3] = 1;
    small.replace(free + 4, 4, "mdat");
    std::uint64_t mediaSize = size - free;
    for (int i = 7; i >= 0; --i, mediaSize >>= 8) {
        small[free + 8 + static_cast<std::size_t>(i)] = static_cast<char>(mediaSize & 0xFF);
    }
    std::string block;
    while (block.size() < (std::size_t{4} << 20)) block += small.substr(free + 16);
    const int descriptor = ::open(file.c_str(), O_WRONLY);
    if (::pwrite(descriptor, small.data(), small.size(), 0) < 0) std::perror("pwrite");
    fill(descriptor, block, small.size(), size, sparse);
    ::close(descriptor);
}

double onDiskGiB(const fs::path& file) {
    struct stat facts {};
    ::stat(file.c_str(), &facts);
    return static_cast<double>(facts.st_blocks) * 512 / (1 << 30);
}

}  // namespace

int main(int argc, char** argv) {
    const double gib = argc > 1 ? std::stod(argv[1]) : 2.0;
    const bool sparse = argc > 2 && std::strcmp(argv[2], "sparse") == 0;
    const std::optional<fs::path> ffmpeg = FFmpegLocator::locate();
    if (!ffmpeg) {
        std::fprintf(stderr, "ffmpeg not found\n");
        return 1;
    }
    bench::WorkFolder work;
    const fs::path source = work.path() / "long.flac";
    bench::runOrThrow(*ffmpeg,
                      {"-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                       "anoisesrc=duration=20:sample_rate=96000", "-ac", "2", "-c:a", "flac",
                       "-metadata", "title=Old", "-metadata", "MOOD=calm", source.string()});
    grow(source, static_cast<std::uint64_t>(gib * 1024 * 1024 * 1024), sparse);
    std::printf("file: %.2f GiB%s; peak before editing: %.1f MiB\n",
                static_cast<double>(fs::file_size(source)) / (1 << 30), sparse ? " (sparse)" : "",
                peakMiB());

    const TrackMeta meta("New Title", "Artist", "Album Artist", "Album", "3", "1", "2019-04-01",
                         "Rock");
    auto start = bench::Clock::now();
    TagEditor::write(source, meta, work.path() / "edited.flac");
    std::printf("TagEditor::write:  %6.2f s, peak %.1f MiB\n", bench::secondsSince(start),
                peakMiB());
    fs::remove(work.path() / "edited.flac");

    start = bench::Clock::now();
    TagFields::patch(source, {{TagFields::Field::title, "Patched"}}, work.path() / "patched.flac");
    std::printf("TagFields::patch:  %6.2f s, peak %.1f MiB\n", bench::secondsSince(start),
                peakMiB());
    fs::remove(work.path() / "patched.flac");
    fs::remove(source);

    const fs::path m4a = work.path() / "long.m4a";
    bench::runOrThrow(*ffmpeg, {"-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                                "anoisesrc=duration=20", "-c:a", "aac", "-movflags", "+faststart",
                                "-metadata", "title=Old", m4a.string()});
    growM4A(m4a, static_cast<std::uint64_t>(gib * 1024 * 1024 * 1024), sparse);
    std::printf("file: %.2f GiB M4A, moov first, %.2f GiB on disk\n",
                static_cast<double>(fs::file_size(m4a)) / (1 << 30), onDiskGiB(m4a));
    start = bench::Clock::now();
    TagEditor::write(m4a, meta, work.path() / "edited.m4a");
    std::printf("TagEditor::write:  %6.2f s, peak %.1f MiB (M4A; %.2f GiB on disk)\n",
                bench::secondsSince(start), peakMiB(), onDiskGiB(work.path() / "edited.m4a"));
    fs::remove(m4a);
    fs::remove(work.path() / "edited.m4a");

    // Refused, not written: a file ffmpeg fragmented, and a hostile one (its
    // "minf" named "ilst", its chunk table claiming billions of entries).
    const fs::path fragmented = work.path() / "fragmented.m4a",
                   hostile = work.path() / "hostile.m4a";
    bench::runOrThrow(
        *ffmpeg, {"-nostdin", "-loglevel", "error", "-f", "lavfi", "-i", "sine=duration=60", "-c:a",
                  "aac", "-movflags", "frag_keyframe+empty_moov", fragmented.string()});
    bench::runOrThrow(*ffmpeg, {"-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                                "sine=duration=1", "-c:a", "aac", hostile.string()});
    std::string bytes = contentOf(hostile);
    bytes.replace(bytes.find("minf"), 4, "ilst");
    const std::size_t count = bytes.find("stco") + 8;
    bytes.replace(count, 4, "\xFF\xFF\x0F\x05");
    std::ofstream(hostile, std::ios::binary | std::ios::trunc) << bytes;
    for (const fs::path& file : {fragmented, hostile}) {
        start = bench::Clock::now();
        try {
            TagEditor::write(file, meta, work.path() / "refused.m4a");
            std::printf("%s: written, not refused\n", file.filename().c_str());
        } catch (const std::exception& error) {
            std::printf("%s (%.0f KB): refused in %.3f s: %s; %s left beside it\n",
                        file.filename().c_str(), static_cast<double>(fs::file_size(file)) / 1000,
                        bench::secondsSince(start), error.what(),
                        fs::exists(work.path() / "refused.m4a") ? "a file" : "nothing");
        }
    }
    return 0;
}
