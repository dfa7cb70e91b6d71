// orvane-cli --help: laid out as a manual page, which packaging/pack makes
// of it; docs/cli.md shows it whole.
#include "orvane/cli/options.h"

const char* HelpText()
{
    return R"HELP(NAME
    orvane-cli - install a firmware image into MRQ serial-to-LAN modules

SYNOPSIS
    orvane-cli --port PORT[,PORT...] --image FILE [--rate 57600|115200]
               [--normal-rate 19200|115200] [--verdict-timeout SECONDS]
               [--wake-timeout SECONDS] [--log FILE] [--station | --no-station]
               [--retries N] [--sha256 HEX] [--expect-model 520W|41|710F]
               [--json] [--check] [--job FILE]
               [--unit-id TEXT | --unit-id-from FILE] [--operator NAME]
               [--bench NAME] [--image-name LABEL]
               [--serve [ADDR:]PORT] [--slot PORT=NAME]...
               [--deliver URL [--spool DIR] [--allow-http]]
    orvane-cli --watch --match usb:VID:PID[:SERIAL]|serial:SERIAL|PATTERN
               --image FILE [the options of a station]
    orvane-cli report LOG... [--by port|bench|day|image|operator]
               [--json | --serve [ADDR:]PORT]
    orvane-cli deliver SPOOL [--deliver URL] [--job FILE] [--allow-http]
               [--check] [--json]
    orvane-cli --list-ports [--json]
    orvane-cli --help | -h | --version

DESCRIPTION
    orvane-cli does what the Download command of orvane does, from a console:
    it wakes the module's boot monitor with carriage returns, sends "flash"
    and "p 60", sends the image in 1024-byte blocks and waits for the
    module's verdict (101: installed, 302: failed).  It runs the same state
    machine and reply parser as orvane.exe; only the screen differs.

    Each line it prints starts with the port and the seconds since the unit
    started.  While the image is sent a progress line shows the bytes the
    port has taken, the percentage, the rate and the time left; it is
    rewritten in place on a terminal, and printed every 10% when the output
    is a file or a pipe.
    A failure ends with one line that says in which phase it stopped
    (waking the boot monitor, after "flash", preparing ("p 60"), sending
    the image, waiting for the verdict), what the module sent last, and
    what to check.

    Turn the module on after removing its LAN card, as orvane.exe asks.

    With several ports (separated by commas) one orvane-cli process runs
    each port, all at once, and this one shows a line per port.

    Ctrl+C cancels: the module is sent what the dialog's Cancel sends and
    the port returns to the normal rate.  While the image is being sent the
    cancel waits for its end, as the dialog's Cancel button does; a second
    Ctrl+C stops the image at once.  SIGTERM and SIGHUP (a terminal closed,
    an ssh session dropped) do what Ctrl+C does; on Windows, closing the
    console window stops the unit at once.  Whatever ends the run, every
    unit that ran is logged and reported.

    A port that goes away (adapter unplugged, line hung up) ends the unit
    at once with exit 5 and the reason "the port went away".

OPTIONS
    --port PORT[,PORT...]
        The serial ports the modules are on: COM1 to COM256 on Windows, any
        terminal device on Linux (/dev/ttyUSB0, /dev/serial/by-id/...).  A
        port can also be named by its adapter: usb:VID:PID or
        usb:VID:PID:SERIAL (VID and PID in hex, as --list-ports shows them)
        or serial:SERIAL.  Such a name must match exactly one port;
        otherwise orvane-cli exits 7 and lists the candidates.

    --image FILE
        The firmware image.  It is checked before any port is opened.

    --sha256 HEX
        Refuse the image unless its SHA-256 is HEX (exit 4, before any port
        is opened).

    --expect-model 520W|41|710F
        When the module's replies say it is another model, stop before
        "p 60" (no image byte is sent), leave the module as Cancel does,
        and exit 8.

    --rate 57600|115200
        The installation rate, at which the boot monitor listens.
        Default 115200.

    --normal-rate 19200|115200
        The normal rate, which the port is opened at and returns to after a
        cancel.  Default 19200.

    --verdict-timeout SECONDS
        How long to wait for the verdict once the image has been written.
        Default: about 5 s (orvane.exe's waiting counter of 500 ticks).

    --wake-timeout SECONDS
        Give up when the module does not answer the wake-up, "flash" or
        "p 60" within SECONDS.  Default: wait as long as it takes, as the
        dialog does.  With --station the wake-up waits for the next unit
        however long it takes; the limit is kept for "flash" and "p 60".

    --retries N
        Run a unit again from the wake-up, up to N more times, when it
        ended with no answer (3), no verdict (2) or a port problem (5: the
        port went away, stopped taking the image, or could not be set to
        the rate); never after a 302 (1), an image problem (4), a wrong
        model (8) or Ctrl+C.  A port that went away is waited for (as --wake-timeout
        and --station wait for a module) and opened again once it is back.
        Each attempt is reported and logged.  Default 0.

    --log FILE
        Append one CSV line per attempt to FILE, with a header when the
        file is new: start (ISO 8601, UTC), port, model (MRQ-520W, MRQ-41,
        MRQ-710F, or empty when the module never said), image, size,
        sha256, duration_s, bytes_per_s, result (PASS, FAIL, CANCELLED),
        reason, attempt, reason_code, unit_id, operator, bench,
        tool_version, image_label, adapter, boot_line, flags.  Several
        processes may append to the same file at once.  A unit is PASS
        only once its line is written: a line that cannot be written
        fails it with exit 9, and a warning says why.

    --station, --no-station
        After each unit wait for the next one on the same port and count
        PASS and FAIL, until Ctrl+C, or a unit that ends with an image
        problem (4) or a port problem (5), which the next unit could not
        get past; then print a summary.  --no-station
        (and --no-watch) turns off what a job file switches on.

    --json
        Events as JSON Lines on standard output (start, unit_start, status,
        progress, warning, unit_id, result, summary; with --watch
        port_added and port_removed; with --check check; with --list-ports
        port; error when the run is refused); the text goes to standard
        error.  The schema is docs/orvane-cli.schema.json.

    --check
        Open nothing and send nothing: show the image (size, SHA-256), the
        ports as resolved, the rates, and any problem (the image, each
        port's unit ids, the ports, the log), and exit with the code a run
        would have for it.

    --job FILE
        Read options from FILE: "key = value" lines (image, sha256,
        expect-model, rate, normal-rate, verdict-timeout, wake-timeout,
        retries, log, station, ports, watch, match, unit-id-from, operator,
        bench, image-name, serve, "slot PORT = NAME", deliver, spool,
        allow-http, and deliver-header = "Name: value", repeated, for
        headers sent with every record, such as an API token, which is
        never shown) and # comments; paths are relative to the file's
        folder (ports and match too, where they hold a /).  An option on
        the command line overrides the file's, whichever it is (--match
        replaces the file's matches, --slot its slots); --no-station and
        --no-watch turn off what the file switches on.  An unknown key or a
        bad value is exit 7, naming the file and line.

    --watch
        Follow the ports that --match names as they come and go: a station
        (--station) starts on each port as it appears and ends when it goes
        away; an adapter plugged back in gets a station again.  A unit cut
        off mid-image fails with exit 5, "the port went away".  One line per
        port with its PASS and FAIL counts and one with the bench's (plain
        lines or --json events when not on a terminal); Ctrl+C ends every
        station as Ctrl+C ends one, and prints the summary.  A station that
        cannot read its unit ids ends every station (exit 7).  With --check:
        the ports that match now, as their stations would start.  Exit: the
        code of the first unit that did not pass, 0 when none.

    --match usb:VID:PID[:SERIAL] | serial:SERIAL | PATTERN
        Which ports --watch follows (repeat it, or separate by commas): an
        adapter's identity as --port takes it, or a pattern with * and ?
        on the port's name or one of its links (/dev/ttyUSB*,
        /dev/serial/by-id/usb-FTDI*, COM*).  On Linux a pattern that is a
        path is also looked up in the file system: a folder of links that
        a bench keeps (/srv/bench/port?) is followed as well.

    --unit-id TEXT
        The id of the unit (its serial number, its label): one unit, so not
        with several ports, --station or --watch.

    --unit-id-from FILE
        A line per unit, read when the unit has answered the wake-up (a
        unit waits there until its line has come): a file, a FIFO that a
        scanner program writes, or - for the console, where a barcode
        scanner types the label and Enter (one port only).  {port} in FILE
        stands for the port's name (its last path part: ttyUSB0, COM12),
        {serial} for its adapter's serial number (the same whatever port
        the adapter gets), so that each port has its own:
        --unit-id-from /run/bench/{port}.ids.  With several ports or
        --watch FILE must hold one of them.  A line is read when a unit
        asks for it, never ahead.  An empty line is a unit without an id; a
        line with a control byte, or longer than 256 bytes, is refused
        (naming FILE and the line) and the unit waits for the next.

    --operator NAME, --bench NAME, --image-name LABEL
        Who runs the bench, which bench it is, and the image's label (its
        release name); they go into the log and the result events.  The
        log and the result event also carry the tool version, the
        adapter's identity (VID:PID:SERIAL where known), the attempt and
        the first line the boot monitor printed.  A unit id that is empty,
        or that this bench's log already has, is flagged (flags column,
        "flags" field) and logged again: never merged.

    --serve [ADDR:]PORT
        Serve the bench view: a page with a tile per port (its stage, unit
        id, progress, and its last PASS or FAIL held until the next unit
        answers) and the run's figures (units, passed, failed, first-pass
        yield, units per hour, the most common failures), live in any
        browser.  Read-only.  Without ADDR only this PC can open it
        (127.0.0.1); with an address (0.0.0.0 for every one) the first line
        says that the network can reach it.  Port 0 takes a free port; the
        first line tells the address.

    --slot PORT=NAME
        The name a port's tile shows ("left 1"), and its place: named slots
        come first, in the order given; PORT is the port or its last path
        part (COM11, ttyUSB0).  Repeat it for each slot.
    --deliver URL
        Send every unit's record (its result event, as --json prints it)
        to the factory's system with an HTTP POST to URL, after the unit's
        log line is written.  Each record first goes into the spool, and a
        sender in the background delivers the spool in order: the bench
        never waits for the network, and a record the server has not
        taken is sent again later with the same Idempotency-Key header.
        https:// is checked against the system's certificates; plain
        http:// only to this machine unless --allow-http.

    --spool DIR
        Where records wait for delivery.  Default: beside the log, its
        name without the extension and .spool (units.csv: units.spool).
        A spool that cannot be written is exit 7 before any unit; a
        record that cannot be put there later is a warning, stays in the
        log, and makes the run's exit 11 unless a unit failed.

    --allow-http
        Send over plain HTTP to another machine too.

    --list-ports
        Every serial port of this machine with what identifies it (driver,
        USB vendor and product, serial number, maker and product, the
        /dev/serial links; on Windows the friendly name).  With --json one
        "port" event per port.

    --help, -h
        This text.

    --version
        The version of orvane-cli (and of orvane, which it comes with).

REPORT
    orvane-cli report LOG... reads the logs of any number of benches (CSV
    of every layout orvane-cli has written, and --json output) and prints
    per port (or --by bench, day, image, operator): units, passed, failed,
    first-pass yield, retries, mean and 95th-percentile duration, and the
    most common failures.  The attempts of a unit (one port of one bench)
    count as one unit.  A torn or foreign line (a duration that is not a
    unit's, a line longer than 64 KiB, ...) is counted and named by file
    and line; lines of an older layout are read and named.  --json: one
    report_group event per group and a report event with the totals.
    --serve [ADDR:]PORT: the report as a page, read again as the logs
    grow, until Ctrl+C.

DELIVER
    orvane-cli deliver SPOOL sends the records that wait in SPOOL (a bench
    that was off the network, a run that ended before the server took
    them), oldest first, to --deliver URL or the URL the spool was last
    run with; --job FILE takes the URL, the headers and the spool from a
    bench's job file.  It gives up after 5 failures in a row.  A server
    answer 2xx removes a record; 408, 429, 5xx, no answer, a time-out or a
    dropped connection leave it waiting; any other 4xx is a rejected
    record: moved to SPOOL/rejected with the server's answer beside it,
    and reported.  --check sends nothing: it counts the records and asks
    URL whether it answers (HEAD).  Exit 0: nothing waits and none was
    rejected (--check: the server answers); 11 otherwise; 7 for a wrong
    command line.  --json: one delivery event with the counts.  Each run
    of a bench shows the same counts at its end.

EXIT STATUS
    0   installed (with --station: no unit failed)
    1   the module reported failure (302), or answered 101 before the port
        had taken the whole image (it ended the image early): "the module
        answered 101 with N of M bytes of the image gone"
    2   no verdict after the image (the waiting counter expired)
    3   the module did not answer within --wake-timeout
    4   the image file is missing, unreadable, empty, or not --sha256's
    5   the port cannot be opened or configured, went away, or stopped
        taking the image (nothing taken for 5 s, a write failed, or the
        image not gone within four times its wire time and 10 s): "the
        port stopped taking the image after N of M bytes"
    6   cancelled (Ctrl+C, SIGTERM, SIGHUP, the console window closing)
    7   the command line or the job file is wrong, a port named by its
        adapter matches none or several ports, the unit ids cannot be
        read, or the spool cannot be written (--deliver)
    8   the module is not the --expect-model one
    9   the unit's log line could not be written (--log): the unit is not
        PASS, however it went
    10  the orvane-cli process running a port (with several ports, or
        --watch) ended before its unit did (killed, or crashed): this one
        logs the unit and sends its result (and with --deliver its
        record), "orvane-cli's process for this port ended (signal N)"
    11  a unit's record could not be put in the spool (--deliver), or
        orvane-cli deliver left records waiting or had one rejected
    128+N  orvane-cli was ended by signal N, one it cannot catch (SIGKILL),
        before it could log its unit (Linux, as a shell reports it)
    With several ports: 0 only if every port passed, otherwise the first
    non-zero code in the order the ports were given.  With --station and
    --watch: the code of the first unit that did not pass.  With
    --retries: the code of a unit's last attempt.
    orvane-cli report: 0, or 7 when a log cannot be read or its options
    are wrong (lines it cannot read are named, not an error).

EXAMPLES
    Install one module on the first USB serial adapter:
        orvane-cli --port /dev/ttyUSB0 --image mrq520w-2.4.bin

    Four modules at once at 57600 baud, with a log for the batch:
        orvane-cli --port COM11,COM12,COM13,COM14 --image mrq41.bin --rate 57600 --log batch.csv

    The adapter with serial number A1B2C3, checked first, then for real:
        orvane-cli --port usb:0403:6001:A1B2C3 --image mrq41.bin --expect-model 41 --check
        orvane-cli --port usb:0403:6001:A1B2C3 --image mrq41.bin --expect-model 41

    A production bench from its job file, events for the line's system:
        orvane-cli --job line3.job --json >>line3.jsonl

    A production bench: one unit after another until Ctrl+C, giving up on
    a unit that stops answering before the image after 10 s:
        orvane-cli --port /dev/ttyUSB0 --image mrq520w.bin --station --wake-timeout 10 --log line3.csv

    A hub of FTDI adapters, each unit's label scanned on the console's
    scanner program into a FIFO per port, logged to the shared folder:
        orvane-cli --watch --match usb:0403:6001 --image mrq41.bin --unit-id-from /run/bench/{port}.ids
                   --operator ann --bench line3-b2 --log /srv/logs/line3-b2.csv

    The week's yield of every bench, per day:
        orvane-cli report /srv/logs/*.csv --by day

    The bench on a screen beside it, and the benches' yield for the office:
        orvane-cli --job line3-b2.job --serve 8080        (http://127.0.0.1:8080/)
        orvane-cli report /srv/logs/*.csv --by bench --serve 0.0.0.0:8081

    Every unit's record to the factory's system, the API token in the job
    file (deliver = https://mes.example/api/units and deliver-header =
    Authorization: Bearer ...), and later what still waits:
        orvane-cli --job line3.job
        orvane-cli deliver --job line3.job
)HELP";
}
