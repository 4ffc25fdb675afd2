#!/bin/bash
exec "$(dirname "$0")/scripts/test.sh" "$@"
