#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <thread>

#include "Core/Convert/AlbumIdentity.hpp"
#include "Core/Convert/ConvertTesting.hpp"
#include "Core/Convert/Converter.hpp"
#include "Core/Platform/Regex.hpp"
#include "Core/Profiles/ProfileStore.hpp"

namespace tarvik {
namespace {

using nlohmann::json;

DeviceProfile deliveredProfile(std::string_view id) {
    return ProfileStore::load(
        fs::path(TARVIK_SOURCE_DIR) / "App/Resources/profiles" / (std::string(id) + ".json"), true);
}

const TrackMeta someMeta{"タイトル", "歌手", "Various", "アルバム", "3", "1", "2019", "J-Pop"};

class ConverterTest : public ::testing::Test {
protected:
    // TMPDIR points into the test's own folder, so that every temporary
    // folder a conversion leaves behind can be seen.
    void SetUp() override {
        fs::create_directories(tmp);
        if (const char* previous = ::getenv("TMPDIR")) previousTMPDIR = previous;
        ::setenv("TMPDIR", tmp.c_str(), 1);
    }
    void TearDown() override {
        previousTMPDIR ? ::setenv("TMPDIR", previousTMPDIR->c_str(), 1) : ::unsetenv("TMPDIR");
    }

    // What the temporary directory holds, and ".part" files anywhere.
    std::vector<std::string> leftovers() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(tmp)) found.push_back(entry.path());
        for (const auto& [name, content] : testing::filesBelow(temp.path())) {
            if (name.ends_with(".part")) found.push_back(name);
        }
        return found;
    }

    // The real ffmpeg behind a script that notes each run's arguments as a
    // line of `log`; a run that writes a ".part" file adds where its
    // conversion's folder is and that folder's mode while in use. With
    // `hideSummary`, the loudness pass prints no summary.
    std::shared_ptr<FFmpegRunner> recording(bool hideSummary = false) const {
        std::string body = R"sh(for last; do :; done
line="$*"
case "$last" in *.part) folder=$(dirname "$last")
    line="$line in $(dirname "$folder") mode $(stat -c %a "$folder")";; esac
echo "$line" >> "$0.log"
)sh";
        if (hideSummary) body += "case \"$*\" in *ebur128*) echo 'no summary' >&2; exit 0;; esac\n";
        return std::make_shared<FFmpegRunner>(
            testing::writeScript(temp / "ffmpeg", body + "exec /usr/bin/ffmpeg \"$@\""));
    }

    // The runs noted so far whose line holds `text`.
    std::vector<std::string> runsWith(std::string_view text) const {
        std::vector<std::string> found;
        std::istringstream lines(fs::exists(log) ? readFile(log) : "");
        for (std::string line; std::getline(lines, line);) {
            if (line.find(text) != std::string::npos) found.push_back(line);
        }
        return found;
    }

    TempDir temp;
    fs::path tmp = temp / "tmp";
    fs::path card = temp / "card";
    fs::path log = temp / "ffmpeg.log";
    std::optional<std::string> previousTMPDIR;
};

// What ffprobe and the bytes show of an output: chapters, streams, the ID3
// version at its head, or a bare frame, and an ID3v1.1 trailer's track byte.
std::string describe(const fs::path& file) {
    const json probed = testing::ffprobe(
        file,
        "stream=codec_name,sample_rate,channels,bit_rate:stream_disposition=attached_pic:chapter");
    std::string text = std::to_string(probed.at("chapters").size()) + " chapters";
    for (const json& stream : probed.at("streams")) {
        const std::string codec = stream.at("codec_name");
        text += stream.at("disposition").at("attached_pic") == 1
                    ? ", cover"
                    : ", " + codec + " " + stream.value("sample_rate", "") + " Hz " +
                          stream.at("channels").dump() + " ch" +
                          (codec == "mp3" ? " " + stream.value("bit_rate", "") + " bit/s" : "");
    }
    const std::string bytes = readFile(file);
    if (bytes.starts_with("ID3")) text += ", ID3v2." + std::to_string(bytes[3]);
    if (bytes.starts_with("\xFF")) text += ", frame first";
    const std::string tail = bytes.substr(bytes.size() - 128);
    if (tail.starts_with("TAG") && tail[125] == 0)
        text += ", ID3v1.1 track " + std::to_string(tail[126]);
    return text;
}

// Read back by ffprobe and mutagen, each in its own private folder in the
// temporary directory. The source's chapter would point into a track the
// output does not have, so no output carries it. Run under a comma-decimal
// locale where one is installed: the gain must still reach ffmpeg as
// "volume=17.80dB", not "volume=17,80dB"; a loudness pass without a readable
// summary converts without gain. A levelled output measures at the target.
TEST_F(ConverterTest, OutputsFollowTheProfile) {
    testing::CommaDecimalLocale locale;
    if (!locale.active()) std::cout << "no comma-decimal locale: running under the C locale\n";
    using Format = DeviceProfile::Tags::Format;
    using Encoding = DeviceProfile::Tags::Encoding;
    writeFile(temp / "chapters.txt",
              ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\n");
    const fs::path source = temp / "chapters.m4a";
    testing::makeTone(temp / "plain.m4a", {.seconds = 2});
    testing::outputOf({"ffmpeg", "-nostdin", "-loglevel", "error", "-i",
                       (temp / "plain.m4a").string(), "-i", (temp / "chapters.txt").string(),
                       "-map", "0", "-map_chapters", "1", "-c", "copy", source.string()});
    ASSERT_EQ(describe(source), "1 chapters, aac 44100 Hz 2 ch");
    testing::makePicture(temp / "cover.jpg", 64, 64);
    const std::string jpeg = readFile(temp / "cover.jpg");
    const auto custom = [](Format format, bool id3v1, bool artwork, Encoding encoding) {
        DeviceProfile profile("test", "test");
        profile.audio.bitrate = 128;
        profile.tags = {format, encoding, id3v1, {.enabled = artwork}};
        return profile;
    };
    // The name, the profile, what describe() sees, the encoding byte of the
    // ASCII album artist (none: an ID3v1 trailer alone).
    const std::vector<std::tuple<std::string, DeviceProfile, std::string, std::optional<int>>>
        cases = {{"generic", deliveredProfile("generic-mp3"),
                  "0 chapters, mp3 44100 Hz 2 ch 192000 bit/s, ID3v2.3", 1},
                 {"v2.4 and v1", custom(Format::id3v2_4, true, false, Encoding::utf8),
                  "0 chapters, mp3 44100 Hz 2 ch 128000 bit/s, ID3v2.4, ID3v1.1 track 3", 3},
                 {"v1 alone", custom(Format::id3v1, false, false, Encoding::shiftJIS),
                  "0 chapters, mp3 44100 Hz 2 ch 128000 bit/s, frame first, ID3v1.1 track 3",
                  std::nullopt},
                 {"MP4 tags asked of an MP3", custom(Format::mp4, false, true, Encoding::latin1),
                  "0 chapters, mp3 44100 Hz 2 ch 128000 bit/s, cover, ID3v2.3", 0},
                 {"aac", deliveredProfile("aac-m4a"), "0 chapters, aac 44100 Hz 2 ch, cover", -1}};
    const json fields = json::parse(R"({"title": "タイトル", "artist": "歌手", "album": "アルバム",
        "albumArtist": "Various", "track": "3", "disc": "1", "year": "2019", "genre": "J-Pop"})");
    const std::string gain = R"(volume=-?[0-9]+\.[0-9]{2}dB)";
    for (const auto& [name, profile, described, encoding] : cases) {
        SCOPED_TRACE(name);
        const bool m4a = name == "aac";
        const fs::path destination = card / "MUSIC" / "歌手" / (name + (m4a ? ".m4a" : ".mp3"));
        writeFile(destination, "an older file in the way");
        fs::remove(log);
        const bool blind = name == "v1 alone";
        Converter(recording(blind), profile)
            .convert({source, destination, someMeta, bytes(jpeg), -14.0}, {});
        EXPECT_EQ(runsWith("ebur128").size(), 1u);
        const std::vector<std::string> parts = runsWith(".part in ");
        EXPECT_FALSE(parts.empty());
        for (const std::string& run : parts) {
            EXPECT_TRUE(run.ends_with(" in " + tmp.string() + " mode 700")) << run;
            EXPECT_TRUE(Regex(".* -af " + (blind ? "anull" : gain) + " .*").matchesWhole(run));
        }
        EXPECT_EQ(leftovers(), std::vector<std::string>{});
        EXPECT_EQ(describe(destination), described);
        if (!blind) {  // measured by ffmpeg's own filter, apart from our summary parser
            const fs::path report = temp / (name + ".loudness");
            testing::outputOf(
                {"ffmpeg", "-nostdin", "-loglevel", "error", "-i", destination.string(), "-af",
                 "ebur128=metadata=1,ametadata=mode=print:key=lavfi.r128.I:file=" + report.string(),
                 "-f", "null", "-"});
            const std::string printed = readFile(report);
            const double loudness = std::stod(printed.substr(printed.rfind("lavfi.r128.I=") + 13));
            EXPECT_NEAR(loudness, -14.0, 1.0);
        }
        const json tags = testing::mutagen(destination);
        // The album's identity, read back by mutagen and by our own reader;
        // an ID3v1 trailer alone has no room for it.
        const std::string identity =
            encoding ? "0db83580b6eb3bddab3bdb6c9e5c9253671d9c817679a4622c242c596e980b80" : "";
        EXPECT_EQ(tags.value("albumIdentity", ""), identity);
        EXPECT_EQ(AlbumIdentity::read(destination).value_or(""), identity);
        if (!encoding) {  // the Shift-JIS trailer alone, which the reader falls back to
            EXPECT_EQ(tags.value("version", ""), "1.1");
            for (const auto& [field, value] : fields.items()) {
                if (field == "albumArtist" || field == "disc" || field == "genre") continue;
                EXPECT_EQ(text::toLatin1(tags.value(field, "")),
                          text::toCP932(value.get<std::string>()))
                    << field;
            }
            continue;
        }
        for (const auto& [field, value] : fields.items())
            EXPECT_EQ(tags.value(m4a && field == "year" ? "date" : field, ""), value) << field;
        EXPECT_EQ(tags.value("albumArtistEncoding", -1), *encoding);
        const json picture = tags.value(m4a ? "cover" : "picture", json::object());
        EXPECT_EQ(picture.contains("size"), described.find("cover") != std::string::npos);
        EXPECT_EQ(picture.value("format", "jpeg") + picture.value("mime", "image/jpeg"),
                  "jpegimage/jpeg");
        EXPECT_EQ(picture.value("type", 3), 3);                                 // the front cover
        EXPECT_TRUE(m4a || picture.value("size", jpeg.size()) == jpeg.size());  // as given
    }
}

// Every way out keeps the older file and leaves no temporary folder. Blank,
// missing and non-regular sources are refused before any ffmpeg run (a pipe
// put in place of a source after planning must not be waited on in open());
// a WAV file with an empty data chunk (ffmpeg decodes nothing from it and
// still succeeds) once its audio has decoded to nothing. A failed
// measurement says so before ffmpeg's own words.
TEST_F(ConverterTest, NothingIsPlacedOrLeftBehindOnAnyWayOut) {
    const fs::path library = temp / "library";
    writeFile(library / "zeros.flac", std::string(8192, '\0'));
    writeFile(library / "text.flac", "not audio at all\n");
    ASSERT_EQ(::mkfifo((library / "fifo.flac").c_str(), 0600), 0);
    testing::makeTone(library / "good.flac", {.seconds = 1});
    testing::makeTone(library / "no-samples.wav", {.extraArguments = {"-t", "0"}});
    const fs::path sleeper = testing::writeScript(temp / "sleeper", "exec sleep 30");
    writeFile(card / "blocked", "a file where a folder should be");
    const std::string blank(Converter::blankSourceMessage), cancelled = Cancelled().what();
    // The source, the destination (".m4a" for the AAC profile), when stopped
    // (0 never, 2 while a stand-in ffmpeg sleeps), whether it is levelled, how
    // the failure begins.
    const std::vector<std::tuple<std::string, std::string, int, bool, std::string>> cases = {
        {"zeros.flac", "old.m4a", 0, false, blank},  // as an empty file
        {"missing.flac", "old.mp3", 0, true,
         "読み込めません: missing.flac（ファイルがありません）"},
        {"fifo.flac", "old.m4a", 0, true, "読み込めません: fifo.flac（ファイルではありません）"},
        {"no-samples.wav", "old.mp3", 0, false, "音声が入っていません: no-samples.wav"},
        {"no-samples.wav", "old.m4a", 0, false, "音声が入っていません: no-samples.wav"},
        {"text.flac", "old.mp3", 0, true, "音量の測定に失敗: "},  // ffmpeg's own words follow
        {"good.flac", "old.mp3", 2, true, cancelled},             // while measuring
        {"good.flac", "old.mp3", 2, false, cancelled},            // while encoding
        {"good.flac", "blocked/x.mp3", 0, true, "書き込めません: x.mp3（Not a directory）"}};
    for (const auto& [source, destination, when, levelled, expected] : cases) {
        for (const char* old : {"old.mp3", "old.m4a"}) writeFile(card / old, "old");
        fs::remove(log);
        std::stop_source stop;
        std::jthread canceller([&stop, when] {
            std::this_thread::sleep_for(std::chrono::milliseconds(when == 2 ? 300 : 0));
            if (when == 2) stop.request_stop();
        });
        std::string failure = "(nothing thrown)";
        try {
            Converter(when == 2 ? std::make_shared<FFmpegRunner>(sleeper) : recording(),
                      deliveredProfile(destination.ends_with(".m4a") ? "aac-m4a" : "generic-mp3"))
                .convert({library / source, card / destination, someMeta, std::nullopt,
                          levelled ? std::optional(-14.0) : std::nullopt},
                         stop.get_token());
        } catch (const FFmpegError& error) {
            failure = error.stderr();
        } catch (const std::exception& error) {
            failure = error.what();
        }
        EXPECT_TRUE(failure.starts_with(expected)) << failure;
        const bool refusedFirst = expected == blank || expected.starts_with("読み込めません");
        EXPECT_TRUE(!refusedFirst || runsWith("-i ").empty()) << source;
        for (const char* old : {"old.mp3", "old.m4a"})
            EXPECT_EQ(readFile(card / old), "old") << source << " to " << destination;
        EXPECT_EQ(leftovers(), std::vector<std::string>{}) << expected;
    }
}

// A killed program leaves its folders behind; the next converter removes
// those that no living process holds and that are not brand new.
TEST_F(ConverterTest, FoldersOfProcessesThatNoLongerLiveAreRemoved) {
    const std::string id = "tarvik-0A1B2C3D-0000-4000-8000-00000000000";
    // Abandoned, held, brand new; then another program's folder and folders
    // that share the prefix only.
    const std::vector<std::string> names = {
        id + "A", id + "B", id + "C", "other-old", "tarvik-test-Xy12Ab", "tarvik-0A1B2C3D"};
    for (const std::string& name : names) {
        writeFile(tmp / name / "out.part", "x");
        if (name != id + "C")
            fs::last_write_time(tmp / name,
                                fs::file_time_type::clock::now() - 2 * Converter::abandonedAfter);
    }
    // A lock on another open of the folder stands for a living conversion.
    const int lock = ::open((tmp / names[1]).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    Converter converter(recording(), deliveredProfile("generic-mp3"));
    ::close(lock);
    for (const std::string& name : names)
        EXPECT_EQ(fs::exists(tmp / name / "out.part"), name != id + "A") << name;
    EXPECT_EQ(testing::filesBelow(tmp).size(), names.size() - 1);
}

}  // namespace
}  // namespace tarvik
