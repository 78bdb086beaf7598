#!/usr/bin/env bash
# Driver sources may include only headers a freestanding compiler provides;
# anything else would tie the kernel object to a C or C++ runtime it lacks.
set -u
root=$1
allowed='^(stddef\.h|stdint\.h|stdarg\.h|limits\.h|float\.h|stdbool\.h|type_traits|cstddef|cstdint|climits|limits)$'
bad=$(cd "$root" && grep -rHo --include='*.h' --include='*.cpp' '#include <[^>]*>' \
        platform registers storage source 2>/dev/null |
      sed -E 's/#include <([^>]*)>/\1/' | awk -F: -v ok="$allowed" '$2 !~ ok')
if [ -n "$bad" ]; then
  echo "driver sources including hosted headers:"; echo "$bad"; exit 1
fi
echo "driver sources: freestanding headers only"
