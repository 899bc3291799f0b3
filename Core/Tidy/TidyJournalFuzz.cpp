// The journal's reader on any bytes: its contents or its documented errors;
// and each line that decodes as an entry is written and read back unchanged,
// down to the bytes of its tag texts.
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Json.hpp"
#include "Core/Testing/Fuzz.hpp"
#include "Core/Tidy/TidyJournal.hpp"

namespace tarvik {
namespace {

void run(std::span<const std::uint8_t> data) {
    const fuzz::MemoryFile file(data);
    try {
        (void)readJournal(file.path());
    } catch (const DecodingError&) {
    } catch (const ConversionError&) {
    }

    const std::string text(data.begin(), data.end());
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string_view line = std::string_view(text).substr(start, end - start);
        start = end + 1;
        std::optional<TidyJournalEntry> entry;
        try {
            entry = TidyJournalEntry::fromLine(line);
        } catch (const DecodingError&) {
        }
        if (!entry) continue;
        // Whatever reads is written again: paths are UTF-8 once read, tag
        // bytes that are not go in escaped. A JournalError here is a finding.
        const std::string written = entry->line();
        const TidyJournalEntry again = TidyJournalEntry::fromLine(written);
        // Equality takes texts by normal form; the bytes must stay too.
        if (again != *entry || again.line() != written) {
            throw fuzz::Finding("an entry does not read back as it was written");
        }
    }
}

const fuzz::Registration registration("TidyJournal", run);

}  // namespace
}  // namespace tarvik
