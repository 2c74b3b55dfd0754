#!/usr/bin/env bash
# The built man pages name every command and option the programs take:
# each of vorexctl's commands has its section with its options, and
# vorex-sim's page lists its options.
# Usage: man_pages.sh VOREXCTL VOREXCTL_PAGE VOREX_SIM VOREX_SIM_PAGE
set -euo pipefail
vorexctl=$1 ctl_page=$2 sim=$3 sim_page=$4
failed=0
expect() {  # PAGE TEXT WHAT
  grep -q -F -- "$2" "$1" || { echo "$(basename "$1"): no $3"; failed=1; }
}

# The commands a user runs, whole paths, each with an option of its own.
while IFS='|' read -r command option; do
  expect "$ctl_page" ".SS \"vorexctl $command\"" "section for vorexctl $command"
  section=$(sed -n "/^\.SS \"vorexctl $command\"/,/^\.S[SH] /p" "$ctl_page")
  grep -q -F -- "$option" <<<"$section" || { echo "vorexctl.1: $command lacks $option"; failed=1; }
done <<'COMMANDS'
search|\-\-json
info|\-\-json
stream|\-\-count
plot|\-\-wait
image|\-\-out
scan|\-\-x\-step
params get|\-\-group
params set|\-\-in
params flush|\-\-serial
reboot|\-\-serial
firmware upload|\-\-commit
firmware commit|\-\-serial
log|\-\-from
view|\-\-port
record|\-\-duration
doctor|\-\-rate
COMMANDS
# No section for a command the program does not have.
sections=$(grep -c '^\.SS "vorexctl ' "$ctl_page")
[ "$sections" -eq 16 ] || { echo "vorexctl.1: $sections command sections, not 16"; failed=1; }

for option in replay faults state rate speed scene loop sensors data-port service-port no-discovery; do
  expect "$sim_page" "\-\-${option//-/\\-}" "--$option"
done

# The pages carry the programs' versions.
expect "$ctl_page" "\"$("$vorexctl" --version)\"" "version line"
expect "$sim_page" "\"$("$sim" --version)\"" "version line"
exit $failed
