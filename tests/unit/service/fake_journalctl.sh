#!/bin/sh
# A stand-in for journalctl in tests: appends "journalctl ARGUMENTS" to
# $FAKE_SYSTEMCTL_DIR/log and prints $FAKE_SYSTEMCTL_DIR/journal (nothing when it is
# missing), as journalctl prints the messages it selected; exits 1 when
# $FAKE_SYSTEMCTL_DIR/refuse_journalctl exists, as without a readable journal.
dir="${FAKE_SYSTEMCTL_DIR:?FAKE_SYSTEMCTL_DIR is not set}"
echo "journalctl $*" >> "$dir/log"
[ -f "$dir/refuse_journalctl" ] && { echo "No journal files were found." >&2; exit 1; }
cat "$dir/journal" 2>/dev/null
exit 0
