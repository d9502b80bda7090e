// The data file as a whole: the version header (B0) and blocks B1 to B19,
// read from a version 1.0 file and written as a version 1.1 file.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "Stream.h"
#include "TableSets.h"

namespace kvo {

using Header = std::array<std::uint8_t, 23>;

// Length byte 22, then the 22 characters, the last a space.
inline constexpr Header kHeader0 = {22,  'V', 'e', 'r', '.', ' ', '1', '.', '0', ' ', 'v', 'o',
                                    'm', ' ', '3', '0', '.', '1', '2', '.', '0', '7', ' '};
inline constexpr Header kHeader = {22,  'V', 'e', 'r', '.', ' ', '1', '.', '1', ' ', 'v', 'o',
                                   'm', ' ', '2', '0', '.', '1', '0', '.', '0', '9', ' '};

// The record counts of the nine counted blocks, signed, exactly as read.
struct Counts {
  std::int32_t b6 = 0, b7 = 0, b8 = 0, b9 = 0, b10 = 0, b12 = 0, b13 = 0, b17 = 0, b18 = 0;
  friend bool operator==(const Counts&, const Counts&) = default;
};

// Other: no data file's header at all; Unknown: a data file's header of a
// version this tool does not know.
enum class Version { V10, V11, Unknown, Other };

// Which version a file's first bytes announce; a short header is Other.
Version VersionOf(std::span<const std::uint8_t> header);

// True when the bytes are the version 1.0 header. Bytes missing from a short
// read count as differing.
bool CheckHeader0(std::span<const std::uint8_t> header);

// How many bytes of a counted block's records are read, converted and
// written at a time.
inline constexpr std::size_t kWindowBytes = std::size_t{1} << 20;

// A pass that stops and goes on: where its caller has a file only a window
// at a time (the browser, whose reads do not wait), the source throws when
// a step's bytes are not there yet, and the next call of the same pass with
// the same resumption passes over the steps done and goes on from there.
// Each step reads all its bytes before it writes any, so that a step that
// stops has written nothing.
struct Resumption {
  std::size_t done = 0;              // steps finished
  std::vector<std::int32_t> counts;  // the counts read so far, in their order
};

// Reads B1 to B19 from behind the header of a version 1.0 file and converts
// them block by block in the file's order: a fixed block through its two
// tables, a counted block a window of records at a time (its tables hold one
// window, never the whole block), so that a file of any size takes the same
// memory. With out, the version 1.1 file, header first, is written as it
// goes; without, the file is only read and checked. Returns the nine counts.
// Throws KvoError for a file that ends early ("Datei ist unvollständig"), a
// negative count where records must follow or a count whose table would pass
// the 32-bit range ("Fehler bei Bereichsprüfung"), and memory that cannot be
// had ("Zu wenig Arbeitsspeicher"); a file refused halfway has had part of
// its conversion written, which the caller throws away. B14 and B15 pass
// through the version 1.1 set, B17 to B19 are carried byte for byte, and
// bytes behind B19 are not read.
Counts ConvertDataFile0(ByteSource& in, ByteSink* out, TableSets& tables,
                        std::size_t windowBytes = kWindowBytes, Resumption* resume = nullptr);

// Reads and checks B1 to B19 as ConvertDataFile0 does, converting nothing.
inline Counts ReadDataFile0(ByteSource& in, TableSets& tables) {
  return ConvertDataFile0(in, nullptr, tables);
}

// The counts of a version 1.0 file, from its count fields alone: each
// block's records are skipped, not read. The same checks and errors as
// ConvertDataFile0, but for the records' own bytes, so that a file that is
// cut short or whose counts cannot be sized is refused before anything is
// written. The tables only name the blocks; nothing is read into them.
Counts SurveyDataFile0(ByteSource& in, TableSets& tables, Resumption* resume = nullptr);

// The length of the version 1.1 file that these counts give.
std::uint64_t ConvertedSize(const Counts& counts);

// Where a byte of a version 1.1 file lies: block 0 is the header; record
// counts from 1, and is 0 for a counted block's count in front of its
// records.
struct Place {
  int block = 0;
  std::uint64_t record = 0;
};
// Past the end of the file that these counts give: the block is 20.
Place PlaceOf(std::uint64_t offset, const Counts& counts);

// Header check, clear, read, convert and write, all in memory.
// Throws WrongVersion for anything but a version 1.0 file.
std::vector<std::uint8_t> ConvertImage(std::span<const std::uint8_t> v10, TableSets& tables);

}  // namespace kvo
