// The options of both translators, once: name, value, range, default, the usage text's line and which
// dialects have them. The parser, the messages, the console's usage text and the batch translator's number
// fields read them here.
#pragma once

#include <string>

namespace vantrel {

enum class OptionId { kRof, kDpi, kXDpi, kYDpi, kODpi, kRot, kSize, kExt, kDigest, kPage };

// A closed range of numbers an option's value must lie in; {0, 0} when the value is no number range.
struct OptionRange {
  int min = 0;
  int max = 0;
};

// Which dialects have an option.
enum class OptionScope { kBoth, kConsole, kGeometry, kExtension };

struct OptionSpec {
  const char* name;  // "-dpi"
  OptionId id;
  bool takesValue;
  OptionScope scope;  // kGeometry: dialects with geometryOptions; kExtension: with extOption
  OptionRange range;
  int defaultValue;       // what stands when the option is not given; 0 when it has no single default
  const char* valueWord;  // the usage text's word for the value ("" when none)
  const char* help;       // the usage text's line without the range; null: not in the usage text
};

// The resolution options' range and the resolution of an input that states none.
inline constexpr OptionRange kResolutionRange{50, 10000};
inline constexpr int kDefaultResolution = 200;

// Usage-text order: a new option adds its row at the end.
inline constexpr OptionSpec kOptionTable[] = {
    {"-rof", OptionId::kRof, true, OptionScope::kBoth, {}, 0, "format",
     "optionally specifies the output file format type"},
    {"-dpi", OptionId::kDpi, true, OptionScope::kBoth, kResolutionRange, kDefaultResolution, "resolution",
     "optional input resolution"},
    {"-xdpi", OptionId::kXDpi, true, OptionScope::kBoth, kResolutionRange, 0, "resolution",
     "optional output x resolution"},
    {"-ydpi", OptionId::kYDpi, true, OptionScope::kBoth, kResolutionRange, 0, "resolution",
     "optional output y resolution"},
    {"-odpi", OptionId::kODpi, true, OptionScope::kBoth, kResolutionRange, 0, "resolution",
     "optional output x and y resolution"},
    {"-rot", OptionId::kRot, true, OptionScope::kGeometry, {}, 0, "rotation",
     "optional rotation of 90, 180, or 270"},
    {"-size", OptionId::kSize, true, OptionScope::kGeometry, {}, 0, "definition",
     "optional output size of A0 - A4, A0L - A4L"},
    {"-ext", OptionId::kExt, false, OptionScope::kExtension, {}, 0, "", nullptr},
    {"-digest", OptionId::kDigest, false, OptionScope::kConsole, {}, 0, "",
     "print the page's SHA-256 on standard error"},
    {"-page", OptionId::kPage, true, OptionScope::kBoth, {}, 0, "number",
     "optional page to translate (1, 2, ...), or all"},
};

constexpr bool optionTableInIdOrder() {
  int i = 0;
  for (const OptionSpec& option : kOptionTable)
    if (static_cast<int>(option.id) != i++) return false;
  return true;
}
static_assert(optionTableInIdOrder(), "kOptionTable is indexed by OptionId");

constexpr const OptionSpec& optionSpec(OptionId id) {
  return kOptionTable[static_cast<int>(id)];
}

// "50 to 10000": how the usage text and the messages state a range.
inline std::string rangeText(const OptionRange& range) {
  return std::to_string(range.min) + " to " + std::to_string(range.max);
}

}  // namespace vantrel
