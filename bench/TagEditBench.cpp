// Edits the tags of a 2 GiB FLAC file (a real ffmpeg file whose audio frames
// are repeated up to that size) through the tag editor and through the
// field editor, and prints the wall time and the peak resident memory of
// each. The target is a peak below 64 MiB however large the file.
//
//   tarvik_tagedit_bench [GiB] [sparse]    (default: 2, the audio written out)
//
// "sparse" leaves the repeated audio as a hole: it measures the memory of a
// larger file cheaply, not the time of copying real audio.

#include <fcntl.h>
#include <sys/resource.h>
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

// The small file, then its audio frames again and again up to `size` bytes,
// through a buffer of a few MiB so the generation itself stays small.
void grow(const fs::path& file, std::uint64_t size, bool sparse) {
    std::ifstream in(file, std::ios::binary);
    const std::string small((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t audio = small.find("\xFF\xF8");
    std::string block;
    while (block.size() < (std::size_t{4} << 20)) block += small.substr(audio);
    const int descriptor = ::open(file.c_str(), O_WRONLY);
    std::uint64_t at = small.size();
    if (sparse) {
        if (::ftruncate(descriptor, static_cast<off_t>(size)) != 0) std::perror("ftruncate");
    } else {
        for (; at < size; at += block.size()) {
            const std::size_t length =
                static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - at));
            if (::pwrite(descriptor, block.data(), length, static_cast<off_t>(at)) < 0) {
                std::perror("pwrite");
                break;
            }
        }
    }
    ::close(descriptor);
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
    return 0;
}
