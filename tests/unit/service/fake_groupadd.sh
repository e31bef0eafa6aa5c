#!/bin/sh
# A stand-in for groupadd in tests: appends "groupadd ARGUMENTS" to
# $FAKE_SYSTEMCTL_DIR/log; when $FAKE_SYSTEMCTL_DIR/refuse_groupadd exists it prints
# that file's text on standard error and exits 10, as groupadd does when it cannot
# update the group file.
dir="${FAKE_SYSTEMCTL_DIR:?FAKE_SYSTEMCTL_DIR is not set}"
echo "groupadd $*" >> "$dir/log"
[ -f "$dir/refuse_groupadd" ] && { cat "$dir/refuse_groupadd" >&2; exit 10; }
exit 0
