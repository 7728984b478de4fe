#!/bin/sh
# Writes a 1x1 transparent GIF (43 bytes) to $1: the picture the fragments show where an item has none.
set -e
printf 'GIF89a\001\000\001\000\200\000\000\000\000\000\377\377\377!\371\004\001\000\000\000\000,\000\000\000\000\001\000\001\000\000\002\002D\001\000;' >"$1.tmp"
mv "$1.tmp" "$1"
