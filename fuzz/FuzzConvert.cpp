// libFuzzer target over the whole path from bytes to bytes: header check,
// reader, conversions, writer. Beyond not crashing, every accepted input must
// give an output that follows from it.
#include <cstdlib>
#include <memory>

#include "Container.h"
#include "Errors.h"
#include "support/DatFile.h"

namespace {

using kvo::test::Version;

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto first = std::make_unique<kvo::TableSets>();
  static const auto second = std::make_unique<kvo::TableSets>();
  const std::span<const std::uint8_t> in(data, size);
  std::vector<std::uint8_t> out;
  try {
    out = kvo::ConvertImage(in, *first);
  } catch (const kvo::WrongVersion&) {
    return 0;
  } catch (const kvo::KvoError&) {
    return 0;  // refused with a message for the user: fine
  }

  // What was accepted is a whole version 1.0 file...
  const auto v10 = kvo::test::Split(in, Version::V10);
  Check(v10.has_value());
  // ...and what came out walks with the version 1.1 sizes to its last byte.
  const auto v11 = kvo::test::Split(out, Version::V11);
  Check(v11.has_value() && v11->trailer.empty());
  Check(v11->header == kvo::test::HeaderOf(Version::V11));
  Check(v11->counts == v10->counts);

  // The size rule: 512 bytes more, 20 more per B7 record.
  const std::int64_t b7 = std::max(v10->counts[7], 0);
  Check(out.size() == size - v10->trailer.size() + 512 + 20 * b7);

  // Carried blocks are byte-identical.
  for (int block : {14, 15, 17, 18, 19}) Check(v11->blocks[block] == v10->blocks[block]);

  // The same input, converted again in other tables and a record at a
  // time, gives the same bytes, and the survey the same counts.
  kvo::MemorySource again(in.subspan(kvo::kHeader0.size()));
  kvo::MemorySource surveyed(in.subspan(kvo::kHeader0.size()));
  std::vector<std::uint8_t> windowed;
  kvo::VectorSink sink(windowed);
  kvo::ClearTables(*second);
  const kvo::Counts counts = kvo::ConvertDataFile0(again, &sink, *second, 1);
  Check(windowed == out);
  Check(counts == kvo::SurveyDataFile0(surveyed, *second));
  return 0;
}
