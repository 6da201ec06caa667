// A small forward reader of worksheet XML text, for the big <sheetData>
// element that the .xlsx backend reads and writes itself (a DOM of a few
// hundred thousand cells costs far more time and memory than the cells).
// It understands UTF-8 text in the forms producers write: start and end
// tags, attributes in either quotes, comments and processing instructions;
// whatever else it meets it reports as "not understood" (nullopt / false),
// and the caller reads that part with a full XML parser instead.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tersolv::link::book {

// One start tag: `<Name Attributes>` or `<Name Attributes/>`.
struct StartTag {
  std::string_view Name;        // qualified name ("x:c")
  std::string_view Attributes;  // the text between the name and the end, blanks included
  bool Empty = false;           // ends with "/>"
  std::size_t End = 0;          // offset just past the tag
};

// The start tag at `pos` (which holds '<' followed by a name character).
std::optional<StartTag> ReadStartTag(std::string_view text, std::size_t pos);

// Next `name="value"` of an attribute list, consumed from the front of
// `attributes`; false at the end. nullopt when the list is malformed.
struct Attribute {
  std::string_view Name, Value;  // value as written (entities not decoded)
};
std::optional<bool> NextAttribute(std::string_view& attributes, Attribute& out);

// Offset just past the element whose start tag begins at `pos` (children,
// comments, CDATA and processing instructions skipped; end-tag names are not
// matched: the caller parses such a span with a full parser).
std::optional<std::size_t> SkipElement(std::string_view text, std::size_t pos);

// Skips blanks, comments and processing instructions from `pos` (and with
// `skipText` any text and CDATA); the offset of the next '<' of an element
// or end tag. nullopt on other text or at the end.
std::optional<std::size_t> SkipMisc(std::string_view text, std::size_t pos, bool skipText = true);

// Where the pieces of a worksheet part lie: the <dimension> element (its
// span, or npos), and the <sheetData> start tag and content.
struct SheetLayout {
  std::size_t DimensionBegin = std::string_view::npos, DimensionEnd = std::string_view::npos;
  std::size_t DataBegin = 0;  // '<' of the sheetData start tag
  StartTag DataTag;           // content starts at DataTag.End unless it is empty
};
std::optional<SheetLayout> LocateSheetData(std::string_view xml);

// Whether `text` holds an '&' that is not a well-formed entity or character reference.
bool HasBadReference(std::string_view text);

// Writes the letters of column `column` (1 to 16384: "A" to "XFD") at `out`;
// returns the end.
char* PutColumnLetters(char* out, int column);

}  // namespace tersolv::link::book
