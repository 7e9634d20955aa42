#!/usr/bin/env bash
# probe_matches.sh WORKLOAD [EMULATOR...] PROBE: runs ringwave-insn-probe's WORKLOAD a few
# times with the program's code and with the straightforward reference, and fails unless
# both leave identical bytes (the digests the probe prints).
set -euo pipefail
workload=$1
shift
calls=3
case $workload in table | startup) calls=1 ;; esac
fast=$("$@" "$workload" fast "$calls")
reference=$("$@" "$workload" reference "$calls")
echo "fast:      $fast"
echo "reference: $reference"
[ "$fast" = "$reference" ]
