#!/bin/sh
# Fails when the tool needs a C++ runtime library: its code is built without
# exceptions and RTTI and must call nothing that throws (README.md,
# Development). A throwing call such as std::string::substr makes the binary
# need libstdc++.
set -eu
tool=$1
needed=$(readelf -d "$tool" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
runtime=$(printf '%s\n' "$needed" | grep -E '^lib(stdc\+\+|gcc_s|c\+\+|c\+\+abi)\.so' || true)
if [ -n "$runtime" ]; then
  echo "TolvarineCli needs $(echo "$runtime" | tr '\n' ' ')but the tool must not use the C++ runtime:"
  echo "no exceptions, no RTTI, no throwing standard calls (std::string, substr, at, new without nothrow)."
  echo "See README.md, Development."
  exit 1
fi
echo "TolvarineCli needs only: $(echo "$needed" | tr '\n' ' ')"
