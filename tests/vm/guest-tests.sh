#!/bin/sh
# Runs inside the VM as root: simulated players served as real USB disks through dummy_hcd,
# usb-storage, sd and sg, and qdxflash downloading to them through SG_IO, compared with the same
# work done on --sim players. Prints "ok"/"FAIL" lines, QDXVM figures and a summary.
Q=/usr/bin/qdxflash
SAMPLES=/qdx/samples
IDS="--vendor-id 1d6b --product-id 0104"
IMAGES="--uit $SAMPLES/player.uit --hzk $SAMPLES/font.hzk --impm $SAMPLES/impm.bin"
W=/tmp/work
mkdir -p $W
PASSED=0
FAILED=0

ok() { PASSED=$((PASSED + 1)); echo "ok   - $*"; }
bad() { FAILED=$((FAILED + 1)); echo "FAIL - $*"; }
# check TEXT COMMAND...: one test line from a command's exit status.
check() {
    text=$1
    shift
    if "$@"; then ok "$text"; else bad "$text"; fi
}
now() { cut -d' ' -f1 /proc/uptime; }
# The player's disk and sg node as the kernel named them this time.
disk() { for d in /sys/block/sd*; do [ -e "$d" ] && echo "/dev/${d##*/}" && return; done; }
sgnode() { for d in /sys/class/scsi_generic/sg*; do [ -e "$d" ] && echo "/dev/${d##*/}" && return; done; }
ending() { sed -n 's/.*"event":"end","ending":"\([a-z-]*\)".*/\1/p' "$1"; }

# plug PLAYER [OPTIONS...]: serves the player on the bus and waits until udev is done with it.
plug() {
    $Q sim serve "$@" $IDS >$W/serve.log 2>&1 &
    SERVE=$!
    i=0
    while [ $i -lt 300 ]; do
        if [ -n "$(disk)" ] && [ -n "$(sgnode)" ] && [ -e "$(sgnode)" ]; then
            udevadm settle
            DEV=$(disk)
            return 0
        fi
        kill -0 $SERVE 2>/dev/null || break
        usleep 100000
        i=$((i + 1))
    done
    echo "the player did not arrive:"
    cat $W/serve.log
    return 1
}

# Waits until the disk has left the host.
gone() {
    i=0
    while [ -n "$(disk)$(sgnode)" ] && [ $i -lt 200 ]; do
        usleep 100000
        i=$((i + 1))
    done
    udevadm settle
    [ -z "$(disk)$(sgnode)" ]
}

# unplug: ends sim serve (the player file is saved) and waits for the disk to leave.
unplug() {
    kill -TERM $SERVE 2>/dev/null
    wait $SERVE
    gone
}

as() { user=$1; shift; su -s /bin/sh "$user" -c "$*"; }

# QDX_VM_ONLY (passed on the kernel's command line as qdx.only=NAME,...) runs some parts only.
ONLY=$(sed -n 's/.*qdx\.only=\([^ ]*\).*/\1/p' /proc/cmdline)
part() {
    echo "== $2"
    [ -z "$ONLY" ] || case ",$ONLY," in *",$1,"*) ;; *) return 1 ;; esac
}

part info "qdxflash list, and info through the real stack agrees with --sim" &&
for player in one two bad; do
    case $player in
        one) create="--chip 0x73" ;;
        two) create="--chip 0x73 --two-chips" ;;
        bad) create="--chip 0x73 --bad 0,5,990" ;;
    esac
    $Q sim create $W/$player.sim --force $create >/dev/null
    $Q info --sim $W/$player.sim >$W/$player.sim-info
    if ! plug $W/$player.sim; then
        bad "$player player: arrives as a USB disk"
        continue
    fi
    if [ $player = one ]; then
        $Q list >$W/list.txt 2>&1
        check "list shows $DEV as a candidate with its USB ids" \
            grep -q "$DEV.*1d6b:0104" $W/list.txt
        cat $W/list.txt
    fi
    $Q info --device "$DEV" >$W/$player.dev-info 2>$W/$player.dev-err
    check "info --device agrees with --sim ($player player)" \
        cmp -s $W/$player.sim-info $W/$player.dev-info
    cmp -s $W/$player.sim-info $W/$player.dev-info ||
        diff $W/$player.sim-info $W/$player.dev-info
    unplug
done
if [ -e $W/one.sim ]; then
    check "a one-chip player is one chip through SG_IO (the refused second ID read)" \
        grep -q "one chip" $W/one.dev-info
    check "a two-chip player is two chips" grep -q "two chips" $W/two.dev-info
fi

if part download "download --device, compared with the same download on --sim"; then
    $Q sim create $W/d.sim --force --chip 0x73 --bad 5,990 >/dev/null
    cp $W/d.sim $W/d-ref.sim
    if plug $W/d.sim; then
        start=$(now)
        $Q download --device "$DEV" $IMAGES --events >$W/d.events 2>$W/d.err
        end=$(now)
        check "download --device completes" [ "$(ending $W/d.events)" = completed ]
        unplug
        cat $W/serve.log
        vendor=$(sed -n 's/.*, \([0-9]*\) of them vendor commands.*/\1/p' $W/serve.log)
        seconds=$(awk "BEGIN { printf \"%.2f\", $end - $start }")
        echo "QDXVM figure download_seconds $seconds"
        echo "QDXVM figure vendor_commands $vendor"
        echo "QDXVM figure commands_per_second $(awk "BEGIN { printf \"%.0f\", $vendor / ($end - $start) }")"
        $Q download --sim $W/d-ref.sim $IMAGES --events >$W/d-ref.events
        $Q sim export $W/d.sim $W/d.raw >/dev/null
        $Q sim export $W/d-ref.sim $W/d-ref.raw >/dev/null
        check "the flash after the download equals --sim's, byte for byte" cmp $W/d.raw $W/d-ref.raw
        rm -f $W/d.raw $W/d-ref.raw
    else
        bad "download player arrives"
    fi
fi

if part udev "the installed udev rule under udevd: plugdev downloads, others are refused"; then
    $Q sim create $W/u.sim --force --chip 0x73 >/dev/null
    if plug $W/u.sim; then
        SG=$(sgnode)
        ls -l "$SG"
        check "$SG belongs to group plugdev, mode 0660" [ "$(stat -c '%G %a' "$SG")" = "plugdev 660" ]
        check "$SG is tagged uaccess" sh -c "udevadm info -q property $SG | grep -q uaccess"
        as alice "$Q download --device $DEV $IMAGES --events" >$W/a.events 2>$W/a.err &
        first=$!
        # While alice's download runs, a second program on the same player is refused.
        i=0
        while ! grep -q progress $W/a.events 2>/dev/null && [ $i -lt 100 ]; do
            usleep 100000
            i=$((i + 1))
        done
        as alice "$Q info --device $DEV" >$W/second.out 2>$W/second.err
        check "a second program on the same player is refused: in use" \
            grep -q "in use by another program" $W/second.err
        cat $W/second.err
        wait $first
        check "alice (in plugdev) downloads" [ "$(ending $W/a.events)" = completed ]
        as bob "$Q info --device $DEV" >$W/bob.out 2>$W/bob.err
        check "bob (not in plugdev) gets the permission message" \
            sh -c "grep -q 'permission denied' $W/bob.err && grep -q plugdev $W/bob.err"
        cat $W/bob.err
        unplug
    else
        bad "permissions player arrives"
    fi
fi

if part unplug "unplugged in the middle of a download, then plugged in again"; then
    $Q sim create $W/x.sim --force --chip 0x73 --bad 5,990 >/dev/null
    cp $W/x.sim $W/x-ref.sim
    if plug $W/x.sim --fault unplug-after=1200; then
        timeout 120 $Q download --device "$DEV" $IMAGES --events >$W/x.events 2>$W/x.err
        check "the job ends write-failed" [ "$(ending $W/x.events)" = write-failed ]
        i=0
        while kill -0 $SERVE 2>/dev/null && [ $i -lt 100 ]; do
            usleep 100000
            i=$((i + 1))
        done
        check "the player left the bus by itself" sh -c "! kill -0 $SERVE 2>/dev/null"
        wait $SERVE
        check "its disk is gone" gone
        if plug $W/x.sim; then
            $Q download --device "$DEV" $IMAGES --events >$W/x2.events 2>$W/x2.err
            check "plugged in again, a clean download completes" [ "$(ending $W/x2.events)" = completed ]
            unplug
        else
            bad "plugged in again, the player arrives"
        fi
        $Q download --sim $W/x-ref.sim $IMAGES --fault unplug-after=1200 --events >/dev/null
        $Q download --sim $W/x-ref.sim $IMAGES --events >/dev/null
        $Q sim export $W/x.sim $W/x.raw >/dev/null
        $Q sim export $W/x-ref.sim $W/x-ref.raw >/dev/null
        check "the flash equals the same two downloads on --sim" cmp $W/x.raw $W/x-ref.raw
        rm -f $W/x.raw $W/x-ref.raw
    else
        bad "unplug player arrives"
    fi
fi

if part faults "commands the player does not carry reach qdxflash as transport failures"; then
    for fault in format-fails fail-command=800; do
        $Q sim create $W/f.sim --force --chip 0x73 >/dev/null
        cp $W/f.sim $W/f-ref.sim
        $Q download --sim $W/f-ref.sim $IMAGES --fault $fault --events >$W/f-ref.events
        if plug $W/f.sim --fault $fault; then
            timeout 120 $Q download --device "$DEV" $IMAGES --events >$W/f.events 2>$W/f.err
            check "$fault: the job ends $(ending $W/f-ref.events), as on --sim" \
                [ "$(ending $W/f.events)" = "$(ending $W/f-ref.events)" ]
            unplug
        else
            bad "$fault: the player arrives"
        fi
    done
fi

if part volume "a mounted FAT volume is unmounted before the download"; then
    $Q sim create $W/v.sim --force --chip 0x73 >/dev/null
    dd if=/dev/zero of=$W/volume.img bs=1024 count=4096 2>/dev/null
    mkdosfs -n PLAYER $W/volume.img >/dev/null
    if plug $W/v.sim --volume $W/volume.img; then
        mkdir -p /mnt/player
        if mount -t vfat "$DEV" /mnt/player; then
            echo "song" >/mnt/player/song.txt
        else
            dmesg | tail -n 5
            cat /sys/block/${DEV#/dev/}/size; od -A d -t x1 $W/volume.img | head -5
        fi
        check "the volume is mounted" grep -q " /mnt/player " /proc/mounts
        (cd /mnt/player && sleep 60) &
        holder=$!
        usleep 300000
        $Q download --device "$DEV" $IMAGES --events >$W/v1.events 2>$W/v1.err
        check "while the volume is busy, the download is refused naming the mount point" \
            sh -c "[ \"\$(sed -n 's/.*\"ending\":\"\([a-z-]*\)\".*/\1/p' $W/v1.events)\" = launch-failed ] && grep -q /mnt/player $W/v1.err"
        cat $W/v1.err
        kill $holder
        wait $holder 2>/dev/null
        $Q download --device "$DEV" $IMAGES --events >$W/v2.events 2>$W/v2.err
        cat $W/v2.err
        check "then it unmounts /mnt/player first and completes" \
            sh -c "grep -q 'unmounted /mnt/player' $W/v2.err && [ \"\$(sed -n 's/.*\"ending\":\"\([a-z-]*\)\".*/\1/p' $W/v2.events)\" = completed ]"
        check "the volume is no longer mounted" sh -c "! grep -q ' /mnt/player ' /proc/mounts"
        unplug
    else
        bad "volume player arrives"
    fi
fi

if part station "the station downloads a served player once per plug-in"; then
    $Q sim create $W/s.sim --force --chip 0x73 >/dev/null
    rm -f $W/station.jsonl
    $Q station $IMAGES --log $W/station.jsonl >$W/station.out 2>&1 &
    station=$!
    # Waits until the log holds COUNT lines.
    logged() {
        i=0
        while [ "$(wc -l <$W/station.jsonl 2>/dev/null || echo 0)" -lt "$1" ] && [ $i -lt 300 ]; do
            usleep 100000
            i=$((i + 1))
        done
        [ "$(wc -l <$W/station.jsonl)" -eq "$1" ]
    }
    if plug $W/s.sim; then
        check "the arriving player is downloaded" logged 1
        usleep 1500000
        check "it is not taken again while it stays" logged 1
        unplug
    fi
    if plug $W/s.sim; then
        check "plugged in again, it is downloaded again" logged 2
        unplug
    fi
    kill -INT $station
    wait $station
    cat $W/station.out
    check "both downloads completed, with the player's USB serial" \
        sh -c "[ \"\$(grep -c '\"serial\":\"QDXSIM0001\".*\"ending\":\"completed\"' $W/station.jsonl)\" = 2 ]"
fi

echo "QDXVM summary $PASSED passed, $FAILED failed"
[ $FAILED -eq 0 ]
