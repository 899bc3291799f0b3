#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Core/Convert/Converter.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Regex.hpp"
#include "Core/Platform/TextEncoding.hpp"
#include "Core/Profiles/ProfileStore.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/Locale.hpp"
#include "Core/Testing/Readers.hpp"
#include "Core/Testing/Script.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::errorOf;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

// The real ffmpeg, keeping each run's arguments as one line; a run that
// writes a ".part" file notes where its conversion's folder is and its mode
// while in use. With `hideSummary`, the loudness pass prints no summary.
class RecordingRunner : public FFmpegRunner {
public:
    explicit RecordingRunner(bool hideSummary = false)
        : FFmpegRunner("/usr/bin/ffmpeg"), hideSummary_(hideSummary) {}

    Output runRaw(const std::vector<std::string>& arguments, const std::optional<Bytes>& input,
                  std::stop_token stop) const override {
        std::string line;
        for (const std::string& word : arguments) line += word + " ";
        if (line.ends_with(".part ")) {
            const fs::path folder = fs::path(arguments.back()).parent_path();
            struct stat info {};
            ::stat(folder.c_str(), &info);
            line += "in " + folder.parent_path().string() + " mode " +
                    std::to_string(info.st_mode & 07777);
        }
        {
            std::lock_guard lock(mutex_);
            runs_.push_back(line);
        }
        if (hideSummary_ && line.find("ebur128") != std::string::npos)
            return Output{0, {}, "no summary\n"};
        return FFmpegRunner::runRaw(arguments, input, std::move(stop));
    }

    // The runs whose line holds `text`.
    std::vector<std::string> runsWith(std::string_view text) const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> found;
        std::copy_if(runs_.begin(), runs_.end(), std::back_inserter(found),
                     [&](const std::string& run) { return run.find(text) != std::string::npos; });
        return found;
    }

private:
    bool hideSummary_;
    mutable std::mutex mutex_;  // guards runs_
    mutable std::vector<std::string> runs_;
};

DeviceProfile deliveredProfile(std::string_view id) {
    return ProfileStore::load(
        fs::path(TARVIK_SOURCE_DIR) / "App/Resources/profiles" / (std::string(id) + ".json"), true);
}

const TrackMeta someMeta{"タイトル", "歌手", "Various", "アルバム", "3", "1", "2019", "J-Pop"};

// Integrated loudness as ffmpeg's own filter reports it through its metadata
// print, independent of the converter's summary parser.
double integratedLoudness(const fs::path& file, const fs::path& report) {
    testing::outputOf(
        {"ffmpeg", "-nostdin", "-loglevel", "error", "-i", file.string(), "-af",
         "ebur128=metadata=1,ametadata=mode=print:key=lavfi.r128.I:file=" + report.string(), "-f",
         "null", "-"});
    const std::string text = readFile(report);
    const std::size_t last = text.rfind("lavfi.r128.I=");
    return last == std::string::npos ? 0.0 : std::stod(text.substr(last + 13));
}

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
        if (previousTMPDIR) ::setenv("TMPDIR", previousTMPDIR->c_str(), 1);
        if (!previousTMPDIR) ::unsetenv("TMPDIR");
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

    fs::path tone(std::string_view name, testing::ToneOptions options = {.seconds = 2}) const {
        options.metadata = {{"title", "source title"}, {"artist", "source artist"}};
        const fs::path path = temp / "library" / name;
        testing::makeTone(path, options);
        return path;
    }

    TempDir temp;
    fs::path tmp = temp / "tmp";
    fs::path card = temp / "card";
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

// Read back by ffprobe and mutagen. The source's chapter would point into a
// track the output does not have, so no output carries it.
TEST_F(ConverterTest, OutputsFollowTheProfile) {
    using Format = DeviceProfile::Tags::Format;
    using Encoding = DeviceProfile::Tags::Encoding;
    writeFile(temp / "chapters.txt",
              ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\n");
    const fs::path source = temp / "library" / "chapters.m4a";
    testing::outputOf({"ffmpeg", "-nostdin", "-loglevel", "error", "-i", tone("plain.m4a").string(),
                       "-i", (temp / "chapters.txt").string(), "-map", "0", "-map_chapters", "1",
                       "-c", "copy", source.string()});
    ASSERT_EQ(describe(source), "1 chapters, aac 44100 Hz 2 ch");
    testing::makePicture(temp / "cover.jpg", 64, 64);
    const std::string jpeg = readFile(temp / "cover.jpg");
    const auto custom = [](Format format, bool id3v1, bool artwork, Encoding encoding) {
        DeviceProfile profile("test", "test");
        profile.audio.bitrate = 128;
        profile.tags = {.format = format,
                        .encoding = encoding,
                        .id3v1 = id3v1,
                        .artwork = {.enabled = artwork}};
        return profile;
    };
    struct Case {
        std::string name;
        DeviceProfile profile;
        std::string described;
        std::optional<int> encoding;  // of the ASCII album artist; none: no tags to read back
    };
    const std::vector<Case> cases = {
        {"generic", deliveredProfile("generic-mp3"),
         "0 chapters, mp3 44100 Hz 2 ch 192000 bit/s, ID3v2.3", 1},
        {"v2.4 and v1", custom(Format::id3v2_4, true, false, Encoding::utf8),
         "0 chapters, mp3 44100 Hz 2 ch 128000 bit/s, ID3v2.4, ID3v1.1 track 3", 3},
        {"v1 alone", custom(Format::id3v1, false, false, Encoding::utf16),
         "0 chapters, mp3 44100 Hz 2 ch 128000 bit/s, frame first, ID3v1.1 track 3", std::nullopt},
        {"MP4 tags asked of an MP3", custom(Format::mp4, false, true, Encoding::latin1),
         "0 chapters, mp3 44100 Hz 2 ch 128000 bit/s, cover, ID3v2.3", 0},
        {"aac", deliveredProfile("aac-m4a"), "0 chapters, aac 44100 Hz 2 ch, cover", -1},
    };
    const std::vector<std::pair<std::string, std::string>> fields = {
        {"title", "タイトル"},      {"artist", "歌手"}, {"album", "アルバム"},
        {"albumArtist", "Various"}, {"track", "3"},     {"disc", "1"},
        {"year", "2019"},           {"genre", "J-Pop"}};
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const bool m4a = test.name == "aac";
        const fs::path destination =
            card / "MUSIC" / "歌手" / "アルバム" / (test.name + (m4a ? ".m4a" : ".mp3"));
        writeFile(destination, "an older file in the way");
        auto runner = std::make_shared<RecordingRunner>();
        Converter(runner, test.profile)
            .convert({source, destination, someMeta, Bytes(jpeg.begin(), jpeg.end())}, {});

        // Its own folder in the temporary directory, readable by this user only.
        const std::vector<std::string> parts = runner->runsWith(".part in ");
        EXPECT_FALSE(parts.empty());
        for (const std::string& run : parts)
            EXPECT_TRUE(run.ends_with(" in " + tmp.string() + " mode 448")) << run;
        EXPECT_EQ(leftovers(), std::vector<std::string>{});
        EXPECT_EQ(describe(destination), test.described);
        if (!test.encoding) continue;
        const json tags = m4a ? testing::mutagenMP4(destination) : testing::mutagenID3(destination);
        for (const auto& [field, value] : fields) {
            EXPECT_EQ(tags.value(m4a && field == "year" ? "date" : field, ""), value) << field;
        }
        EXPECT_EQ(tags.value("albumArtistEncoding", -1), *test.encoding);
        const json picture = tags.value(m4a ? "cover" : "picture", json::object());
        EXPECT_EQ(picture.contains("size"), test.described.find("cover") != std::string::npos);
        EXPECT_EQ(picture.value("format", "jpeg") + picture.value("mime", "image/jpeg"),
                  "jpegimage/jpeg");
        EXPECT_EQ(picture.value("type", 3), 3);                                 // the front cover
        EXPECT_TRUE(m4a || picture.value("size", jpeg.size()) == jpeg.size());  // as given
    }
}

// "Two 〜夢〜" once reached the unit as "Two ?夢?": each JIS form must go in
// as the code page 932 character the unit shows in its place.
TEST_F(ConverterTest, ShiftJISTagsCarryTheCP932TwinsOfJISForms) {
    TrackMeta meta = someMeta;
    meta.title = "Two \u301C\u5922\u301C";
    meta.artist = "A\u2014B\u2212C\u00A51\u00A2\u00AC\u2016\u00A3";
    const fs::path destination = card / "twins.mp3";
    Converter(std::make_shared<RecordingRunner>(), deliveredProfile("panasonic-hds940d"))
        .convert({tone("01.flac", {.seconds = 1}), destination, meta}, {});
    // Frames with encoding byte 0 read back as ISO-8859-1: the code points are the bytes.
    const json tags = testing::mutagenID3(destination);
    EXPECT_EQ(tags.at("titleEncoding"), 0);
    EXPECT_EQ(text::toLatin1(tags.at("title").get<std::string>()),
              (Bytes{'T', 'w', 'o', ' ', 0x81, 0x60, 0x96, 0xB2, 0x81, 0x60}));
    EXPECT_EQ(text::toLatin1(tags.at("artist").get<std::string>()),
              (Bytes{'A', 0x81, 0x5C, 'B', 0x81, 0x7C, 'C', 0x81, 0x8F, '1', 0x81, 0x91, 0x81, 0xCA,
                     0x81, 0x61, 0x81, 0x92}));
}

// Run under a comma-decimal locale where one is installed: the gain must
// still reach ffmpeg as "volume=17.80dB", not "volume=17,80dB". A loudness
// pass without a readable summary converts without gain.
TEST_F(ConverterTest, LevelsQuietAndLoudSourcesToTheTarget) {
    testing::CommaDecimalLocale locale;
    if (!locale.active()) std::cout << "no comma-decimal locale: running under the C locale\n";
    const std::string gain = R"(volume=-?[0-9]+\.[0-9]{2}dB)";
    for (const auto& [name, volumeDB, hideSummary, filter] :
         std::vector<std::tuple<std::string, double, bool, std::string>>{
             {"quiet", -10, false, gain}, {"loud", 15, false, gain}, {"blind", 0, true, "anull"}}) {
        auto runner = std::make_shared<RecordingRunner>(hideSummary);
        const fs::path destination = card / (name + ".mp3");
        Converter(runner, deliveredProfile("generic-mp3"))
            .convert({tone(name + ".flac", {.seconds = 4, .volumeDB = volumeDB}), destination,
                      someMeta, std::nullopt, -14.0},
                     {});
        EXPECT_EQ(runner->runsWith("ebur128").size(), 1u) << name;
        const std::vector<std::string> encodings = runner->runsWith("libmp3lame");
        ASSERT_EQ(encodings.size(), 1u);
        EXPECT_TRUE(Regex(".* -af " + filter + " .*").matchesWhole(encodings[0])) << encodings[0];
        const double loudness = integratedLoudness(destination, temp / (name + ".txt"));
        EXPECT_TRUE(hideSummary || std::abs(loudness + 14.0) <= 1.0) << name << ": " << loudness;
    }
}

// Refused with a clear message, and nothing placed: blank, missing and
// non-regular sources before any ffmpeg run (a pipe put in place of a source
// after planning must not be waited on in open()); an M4A whose sound track
// lists no samples (ffmpeg decodes nothing from it and still succeeds) and a
// WAV file with an empty data chunk once their audio has decoded to nothing.
TEST_F(ConverterTest, BlankUnreadableOrSilentSourceFailsAndPlacesNothing) {
    const fs::path library = temp / "library";
    writeFile(library / "empty.flac", "");
    writeFile(library / "zeros.flac", std::string(8192, '\0'));
    fs::create_directories(library / "folder.flac");
    ASSERT_EQ(::mkfifo((library / "fifo.flac").c_str(), 0600), 0);
    testing::makeTone(library / "no-frames.m4a", {.seconds = 1});
    std::string bytes = readFile(library / "no-frames.m4a");
    // The sample tables' entry counts (and the fixed sample size) become
    // zero; the tables keep their length.
    for (const std::string_view box : {"stsz", "stts", "stsc", "stco"}) {
        const std::size_t at = bytes.find(box);
        ASSERT_NE(at, std::string::npos) << box;
        bytes.replace(at + 8, box == "stsz" ? 8 : 4, box == "stsz" ? 8 : 4, '\0');
    }
    writeFile(library / "no-frames.m4a", bytes);
    tone("no-samples.wav", {.extraArguments = {"-t", "0"}});
    const std::string blank(Converter::blankSourceMessage);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"empty.flac", blank},
        {"zeros.flac", blank},
        {"missing.flac", "読み込めません: missing.flac（No such file or directory）"},
        {"folder.flac", "読み込めません: folder.flac（ファイルではありません）"},
        {"fifo.flac", "読み込めません: fifo.flac（ファイルではありません）"},
        {"no-frames.m4a", "音声が入っていません: no-frames.m4a"},
        {"no-samples.wav", "音声が入っていません: no-samples.wav"},
    };
    for (const char* profile : {"generic-mp3", "aac-m4a"}) {
        auto runner = std::make_shared<RecordingRunner>();
        Converter converter(runner, deliveredProfile(profile));
        for (const auto& [name, message] : cases) {
            const bool ranBefore = !runner->runsWith("-i ").empty();
            EXPECT_EQ(errorOf([&] {
                          converter.convert({library / name, card / "out.bin", someMeta}, {});
                      }),
                      message);
            EXPECT_EQ(ranBefore || !runner->runsWith("-i ").empty(), message.starts_with("音声"))
                << name;
            EXPECT_FALSE(fs::exists(card / "out.bin")) << profile << ", " << name;
        }
    }
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(ConverterTest, NothingIsLeftBehindOnAnyWayOut) {
    const fs::path good = tone("good.flac", {.seconds = 1});
    writeFile(temp / "library" / "text.flac", "not audio at all\n");
    const fs::path ffmpeg = "/usr/bin/ffmpeg";
    const fs::path sleeper = testing::writeScript(temp / "sleeper", "exec sleep 30");
    writeFile(card / "blocked", "a file where a folder should be");
    struct Case {
        std::string name;
        fs::path program;
        fs::path source;
        std::string destination;
        int stop;             // 0 never, 1 before, 2 during
        std::string failure;  // the type of error, empty for success
        std::optional<double> loudnessTarget = -14.0;
    };
    const std::vector<Case> cases = {
        {"success", ffmpeg, good, "done.mp3", 0, ""},
        {"ffmpeg fails", ffmpeg, temp / "library" / "text.flac", "old.mp3", 0, "FFmpegError"},
        {"cancelled before", ffmpeg, good, "old.mp3", 1, "Cancelled"},
        {"cancelled while measuring", sleeper, good, "old.mp3", 2, "Cancelled"},
        {"cancelled while encoding", sleeper, good, "old.mp3", 2, "Cancelled", std::nullopt},
        {"card folder blocked", ffmpeg, good, "blocked/x.mp3", 0, "ConversionError"},
    };
    for (const Case& test : cases) {
        writeFile(card / "old.mp3", "old");
        std::stop_source stop;
        if (test.stop == 1) stop.request_stop();
        std::jthread canceller([&stop, &test] {
            std::this_thread::sleep_for(std::chrono::milliseconds(test.stop == 2 ? 300 : 0));
            if (test.stop == 2) stop.request_stop();
        });
        std::string failure;
        try {
            Converter(std::make_shared<FFmpegRunner>(test.program), deliveredProfile("generic-mp3"))
                .convert({test.source, card / test.destination, someMeta, std::nullopt,
                          test.loudnessTarget},
                         stop.get_token());
        } catch (const FFmpegError&) {
            failure = "FFmpegError";
        } catch (const Cancelled&) {
            failure = "Cancelled";
        } catch (const ConversionError&) {
            failure = "ConversionError";
        }
        EXPECT_EQ(failure, test.failure) << test.name;
        EXPECT_EQ(readFile(card / "old.mp3"), "old") << test.name;
        EXPECT_EQ(leftovers(), std::vector<std::string>{}) << test.name;
    }
}

// A killed program leaves its folders behind; the next converter removes
// those that no living process holds and that are not brand new.
TEST_F(ConverterTest, FoldersOfProcessesThatNoLongerLiveAreRemoved) {
    const auto old = fs::file_time_type::clock::now() - 2 * Converter::abandonedAfter;
    const std::string abandoned = "tarvik-0A1B2C3D-0000-4000-8000-00000000000A";
    const std::string held = "tarvik-0A1B2C3D-0000-4000-8000-00000000000B";
    const std::string fresh = "tarvik-0A1B2C3D-0000-4000-8000-00000000000C";
    // Another program's folder and a test's own folder share the prefix only.
    for (const std::string& name :
         {abandoned, held, fresh, std::string("other-old"), std::string("tarvik-test-Xy12Ab")}) {
        writeFile(tmp / name / "out.part", "x");
        if (name != fresh) fs::last_write_time(tmp / name, old);
    }
    // A lock on another open of the folder stands for a living conversion.
    const int lock = ::open((tmp / held).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    Converter converter(std::make_shared<RecordingRunner>(), deliveredProfile("generic-mp3"));
    ::close(lock);
    std::vector<std::string> left;
    for (const auto& [name, content] : testing::filesBelow(tmp)) left.push_back(name);
    EXPECT_EQ(left, (std::vector<std::string>{"other-old/out.part", held + "/out.part",
                                              fresh + "/out.part", "tarvik-test-Xy12Ab/out.part"}));
}

// The AAC encoder is probed by the conversions that start before the first
// probe has ended, and then never again.
TEST_F(ConverterTest, ParallelConversionsShareOneConverter) {
    auto runner = std::make_shared<RecordingRunner>();
    Converter converter(runner, deliveredProfile("aac-m4a"));
    const fs::path source = tone("01.flac", {.seconds = 1});
    std::vector<std::jthread> workers;
    for (int i = 0; i < 4; ++i) {
        workers.emplace_back([&, i] {
            converter.convert({source, card / (std::to_string(i) + ".m4a"), someMeta}, {});
        });
    }
    workers.clear();  // joins them
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(describe(card / (std::to_string(i) + ".m4a")), "0 chapters, aac 44100 Hz 2 ch");
    const std::size_t probes = runner->runsWith("aac_at").size();
    EXPECT_TRUE(probes >= 1 && probes <= 4) << probes;
    EXPECT_EQ(converter.aacEncoderName({}), "aac");
    EXPECT_EQ(runner->runsWith("aac_at").size(), probes);
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

}  // namespace
}  // namespace tarvik
