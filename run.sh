#!/bin/bash
exec "$(dirname "$0")/scripts/run.sh" "$@"
