#!/usr/bin/env bash
# The driver object's shape: it imports only the kernel services layer, exports
# only its entry, and leaves nothing for a loader to construct.
set -u
object=$1
failed=0

undefined=$(nm -u "$object" | awk '{print $2}' | grep -v '^nQVZOR' || true)
if [ -n "$undefined" ]; then
  echo "undefined symbols other than layer imports:"; echo "$undefined"; failed=1
fi

exported=$(nm -g --defined-only "$object" | awk '{print $3}')
if [ "$exported" != "nQVWEND200_driverEntry" ]; then
  echo "global definitions other than the entry:"; echo "$exported"; failed=1
fi

loader_sections=$(objdump -h "$object" | awk '{print $2}' | grep -E '^\.(init_array|fini_array|ctors|dtors|preinit_array)' || true)
if [ -n "$loader_sections" ]; then
  echo "sections a loader would run:"; echo "$loader_sections"; failed=1
fi

if ! objdump -h "$object" | awk '{print $2}' | grep -qx '.qvrm7_ctors'; then
  echo "the constructor table section is missing"; failed=1
fi

unwind=$(objdump -h "$object" | awk '{print $2}' | grep -E '^\.(eh_frame|gcc_except_table)$' || true)
if [ -n "$unwind" ]; then
  echo "exception or unwind tables present:"; echo "$unwind"; failed=1
fi

[ $failed -eq 0 ] && echo "driver object: imports, exports and sections as required"
exit $failed
