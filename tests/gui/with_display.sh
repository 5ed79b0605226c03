#!/usr/bin/env bash
# Runs a test program in its own Xvfb: with_display.sh PROGRAM [ARGS...]
source "$(dirname "$0")/lib.sh"
start_display
"$@"
