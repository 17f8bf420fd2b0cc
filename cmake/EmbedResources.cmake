# Turns every file under DIR (subfolders included, named "Sub/name.ext") into bytes of the
# generated source OUT, looked up by that name through kqu::KQUEmbeddedResource().
#
# The bytes are pulled in by the assembler (.incbin) rather than spelled out as a C array:
# the date-time format lists alone are about a megabyte, which as "0x..," text would take
# CMake and the compiler far longer than the assembler takes to copy it.
file(GLOB_RECURSE files RELATIVE ${DIR} ${DIR}/*)
list(SORT files)
set(assembly "")
set(declarations "")
set(table "")
set(i 0)
foreach(f ${files})
  if(IS_DIRECTORY ${DIR}/${f} OR f MATCHES "(^|/)\\.")
    continue()
  endif()
  set(sym "kqu_embedded_resource_${i}")
  # The digest puts the bytes into the source text, so a compiler cache keyed on the
  # preprocessed source cannot hand back an object with old contents.
  file(SHA256 ${DIR}/${f} digest)
  string(APPEND assembly
    "    \".pushsection .rodata\\n.balign 16\\n.globl ${sym}\\n.hidden ${sym}\\n${sym}:\\n\"\n"
    "    \".incbin \\\"${DIR}/${f}\\\"\\n.globl ${sym}_end\\n.hidden ${sym}_end\\n${sym}_end:\\n.byte 0\\n.popsection\\n\"\n")
  string(APPEND declarations "extern const unsigned char ${sym}[];\nextern const unsigned char ${sym}_end[];\n")
  string(APPEND table "  {\"${f}\", ${sym}, ${sym}_end},  // ${digest}\n")
  math(EXPR i "${i} + 1")
endforeach()
file(WRITE ${OUT} "// Generated at build time from resources/. Do not edit.
#include <algorithm>
#include <cstddef>
#include <optional>
#include <string_view>
__asm__(
${assembly}    \"\");
extern \"C\" {
${declarations}}
namespace kqu {
namespace {
struct Entry {
  const char* name;
  const unsigned char* begin;
  const unsigned char* end;
};
// Sorted by name (byte order), so a look-up is a binary search.
const Entry kEntries[] = {
${table}};
}  // namespace
std::optional<std::string_view> KQUEmbeddedResource(std::string_view name) {
  const Entry* end = kEntries + sizeof kEntries / sizeof kEntries[0];
  const Entry* e = std::lower_bound(kEntries, end, name,
                                    [](const Entry& entry, std::string_view key) { return entry.name < key; });
  if (e == end || e->name != name) return std::nullopt;
  return std::string_view(reinterpret_cast<const char*>(e->begin), static_cast<std::size_t>(e->end - e->begin));
}
}  // namespace kqu
")
