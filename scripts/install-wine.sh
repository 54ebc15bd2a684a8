#!/usr/bin/env bash
# Installs what the Wine suite needs when any of it is missing (scripts/packages/wine.list):
# Wine with its 32-bit half, a virtual screen, xdotool and ImageMagick. Nothing is installed
# where this host's kernel runs no 32-bit programs, as Wine could not start there.
exec bash "$(dirname "$0")/install-deps.sh" wine
