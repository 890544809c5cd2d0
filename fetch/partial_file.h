// A download cut short keeps what it received: the partial file "<target>.partial" beside
// its target, and a small record "<target>.partial.rec" saying where the bytes came from,
// which version of the file they are (the server's validator), how large the whole file
// is and how many of its bytes are on the disk. A later attempt continues from there, in
// the same run or a later one. Neither file ever passes for the target itself.
#pragma once
#include <cstdint>
#include <string>

namespace fetch {

struct PartialRecord {
    std::u16string url;
    std::string validator;      // an ETag or a Last-Modified date, sent back as If-Range
    uint64_t expectedSize = 0;  // of the whole file; 0 when nobody said
    uint64_t bytes = 0;         // of the partial from its start, flushed
};

std::u16string partialPathOf(const std::u16string& target);
std::u16string recordPathOf(const std::u16string& target);

// False when the record is missing, too long or not well formed.
bool readPartialRecord(const std::u16string& target, PartialRecord& record);
// Written whole beside the target and flushed before it replaces the old record.
bool writePartialRecord(const std::u16string& target, const PartialRecord& record);
// Removes the partial and its record.
void discardPartial(const std::u16string& target);
// A validator fit to go back in a header: printable ASCII of bounded length.
bool validValidator(const std::string& validator);

// Partials that a download of this process is writing; the clean-ups leave them alone.
void notePartialInUse(const std::u16string& target, bool inUse);

// The clean-up at the start of a background run: the folder keeps at most one partial, the
// one its newest sound record names and no older than a week. Every other partial, record
// and temporary download file goes, each with a log line.
void tidyPartials(const std::u16string& folder);
// Once the run knows what it downloads: every partial but the one of keepName (a file name
// in folder; empty keeps none) goes with its record.
void keepOnlyPartialOf(const std::u16string& folder, const std::u16string& keepName);

}  // namespace fetch
