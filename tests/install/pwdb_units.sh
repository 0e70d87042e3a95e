#!/bin/sh
# SPDX-License-Identifier: ISC
# install.pwdb-units - the installed pwdb.path watches /etc/passwd and
# starts pwdb.service, which rebuilds the hashed database only where one
# exists, and tries a build that ended 75 again. The service's command
# runs as systemd would run it, with its conditions, in a private mount
# namespace with a scratch folder over /etc (no systemd needed): nothing is
# made on a host without a database, and after a useradd-style change the
# rebuilt database passes pwdb -c.
. "$(dirname "$0")/lib.sh"
need_root_namespace

units=$STAGE/lib/systemd/system
path=$(cat "$units/pwdb.path")
for line in 'PathChanged=/etc/passwd' 'Unit=pwdb.service' 'WantedBy=paths.target'; do
	echo "$path" | grep -qx "$line" || fail "pwdb.path lacks $line"
done
service=$(cat "$units/pwdb.service")
echo "$service" | grep -qx 'Type=oneshot' || fail "pwdb.service is not Type=oneshot"
exec_start=$(echo "$service" | sed -n 's/^ExecStart=//p')
expect_eq ExecStart "$STAGE/sbin/pwdb" "$exec_start"
# A build that ends 75 (the file kept changing) is tried again.
echo "$service" | grep -qx 'Restart=on-failure' || fail "pwdb.service does not try again"
if echo "$service" | grep -q '^RestartPreventExitStatus=.*\<75\>'; then
	fail "pwdb.service never retries 75"
fi
conditions=$(echo "$service" | sed -n 's/^ConditionPathExists=//p' | sort | tr '\n' ' ')
expect_eq ConditionPathExists "/etc/passwd.dir /etc/passwd.pag " "$conditions"

mkdir "$WORK/etc"
cp /etc/ld.so.cache "$WORK/etc/" 2>/dev/null || true
printf 'root:x:0:0:root:/root:/bin/sh\nalice:x:1000:1000::/home/alice:/bin/sh\n' > "$WORK/etc/passwd"
# The unit, as systemd starts it: every condition met, or nothing runs.
cat > "$WORK/run-unit" <<SCRIPT
for c in $conditions; do [ -e "\$c" ] || exit 0; done
exec $exec_start
SCRIPT
out=$(unshare -m --propagation private sh -c '
	mount --bind "$1/etc" /etc || exit 99
	run() { sh "$1/run-unit" || echo "unit failed: $?"; }
	run "$1"
	[ -e /etc/passwd.pag ] && echo "made a database where none was"
	'"$exec_start"' || echo "first build failed"
	# useradd writes a new file and renames it over the old one.
	cp /etc/passwd /etc/passwd+ && echo "bob:x:1001:1001::/home/bob:/bin/sh" >> /etc/passwd+ &&
		mv /etc/passwd+ /etc/passwd
	'"$exec_start"' -c >/dev/null 2>&1 && echo "pwdb -c passes on a stale database"
	run "$1"
	'"$exec_start"' -c || echo "not rebuilt: pwdb -c failed"
	' sh "$WORK" 2>&1)
expect_eq "the unit's runs" "" "$out"
echo "pwdb.path and pwdb.service keep the database in step"
