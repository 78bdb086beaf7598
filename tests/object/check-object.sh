#!/usr/bin/env bash
# The driver object's shape: it imports only the kernel services layer, exports
# only its entry, leaves nothing for a loader to construct, and can be placed
# where a kernel loads its modules.
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

# A kernel loads modules in the top 2 GiB of the address space; only what
# the kernel code model produces can be resolved there. A zero-extended
# 32-bit absolute (R_X86_64_32) cannot, so it is refused with anything else
# unlisted. Debug sections are not loaded and keep their 32-bit offsets.
kernel_relocations='R_X86_64_(32S|64|PC32|PC64|PLT32)'
relocations=$(readelf -r -W "$object" |
  awk '/^Relocation section/ { debug = ($3 ~ /^.\.rela?\.debug/); next }
       !debug && $3 ~ /^R_X86_64_/ { print $3 }' | sort | uniq -c)
echo "relocations in code and data:"; echo "$relocations"
foreign=$(awk '{print $2}' <<<"$relocations" | grep -Ev "^${kernel_relocations}\$" || true)
if [ -n "$foreign" ]; then
  echo "relocations a kernel module address cannot take:"; echo "$foreign"; failed=1
fi

# Linked where a kernel places a module, nothing may be truncated and every
# loaded section must land in the top 2 GiB.
linked=$(mktemp)
trap 'rm -f "$linked"' EXIT
if ! ld -e nQVWEND200_driverEntry --unresolved-symbols=ignore-all -Ttext=0xffffffffa0000000 \
    -o "$linked" "$object"; then
  echo "the object does not link at a kernel module address"; failed=1
else
  low=$(readelf -S -W "$linked" |
    awk '/^ *\[ *[0-9]+\]/ { sub(/^ *\[ *[0-9]+\] */, "");
           if ($7 ~ /A/ && $3 !~ /^ffffffff[89a-f]/) print $1, $3 }')
  if [ -n "$low" ]; then
    echo "loaded sections below the kernel module area:"; echo "$low"; failed=1
  fi
fi

[ $failed -eq 0 ] && echo "driver object: imports, exports, sections and relocations as required"
exit $failed
