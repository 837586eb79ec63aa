#!/bin/bash
# The server's session requests over raw protocol lines: the request list,
# the responses a client must take, the Root rule, unrecognized requests,
# global options, the first pending error winning, a command run in the
# child (and one killed there), and no temporary tree left behind.
. "$(dirname "$0")/lib.sh"
remote && skip_remote "drives the server with raw protocol requests"
HERE=$(cd "$(dirname "$0")" && pwd)

REPO=$SCRATCH/repo
jol -d "$REPO" init
expect_status 0
RESP="ok error Valid-requests Checked-in New-entry Checksum Copy-file Updated Created Update-existing Merged Patched Rcs-diff Mode Mod-time Removed Remove-entry Set-static-directory Clear-static-directory Set-sticky Clear-sticky Template Set-checkin-prog Set-update-prog Notified Module-expansion Wrapper-rcsOption M Mbinary E F MT"

# The request list, in table order.
serve <<X
Root $REPO
Valid-responses $RESP
valid-requests
X
expect_status 0
expect_stdout <<'X'
Valid-requests Root Valid-responses valid-requests Repository Directory Max-dotdot Static-directory Sticky Checkin-prog Update-prog Entry Kopt Checkin-time Modified Is-modified UseUnchanged Unchanged Notify Questionable Case Argument Argumentx Global_option Gzip-stream wrapper-sendme-rcsOptions Set Gssapi-authenticate expand-modules ci co update diff log add remove update-patches gzip-file-contents status rdiff tag rtag import admin export history release watch-on watch-off watch-add watch-remove watchers editors init annotate noop version
ok
X

# A client without an essential response is refused at once.
serve <<X
Valid-responses ok error Valid-requests M E
noop
X
expect_status 1
expect_stdout <<'X'
E response `Checked-in' not supported by client
error  
X

# Requests that need a root, before "Root"; "noopx" is no "noop".
serve <<X
Valid-responses $RESP
Argument x
noopx
noop
X
expect_stdout <<'X'
E Protocol error: Root request missing
error  
ok
X

serve <<X
Valid-responses $RESP
Frobnicate now
noop
X
expect_stdout <<'X'
error  unrecognized request `Frobnicate now'
ok
X

# Root: relative, duplicate, unreadable; the first error wins.
serve <<X
Valid-responses $RESP
Root relative/path
Root $REPO
noop
X
expect_stdout <<'X'
E Root relative/path must be an absolute pathname
error  
X
serve <<X
Valid-responses $RESP
Root $REPO
Root $REPO
Global_option -z
noop
noop
X
expect_stdout <<X
E Protocol error: Duplicate Root request, for $REPO
error  
ok
X
serve <<X
Valid-responses $RESP
Root $SCRATCH/nowhere
noop
X
expect_stdout_has "E Cannot access $SCRATCH/nowhere/JOLROOT"

serve <<X
Valid-responses $RESP
Root $REPO
Global_option -x
noop
X
expect_stdout <<'X'
E Protocol error: bad global option -x
error  
X

# A command runs in the child; its output comes back as M lines.
serve <<X
Root $REPO
Valid-responses $RESP
version
X
expect_status 0
expect_stdout <<'X'
M Jointly Owned Lines (JOL) 1.11 (client/server)
ok
X

# A child killed by a signal.
cat >"$SCRATCH/kill.py" <<'PY'
import os, signal, sys, time
sys.path.insert(0, sys.argv[4])
from protodrive import Server
jol, repo, resp = sys.argv[1:4]
s = Server(jol, env=dict(os.environ, JOL_SERVER_SLEEP="30"))
s.send("Root " + repo, "Valid-responses " + resp, "version")
kids = []
for _ in range(100):
    kids = open(f"/proc/{s.proc.pid}/task/{s.proc.pid}/children").read().split()
    if kids:
        break
    time.sleep(0.05)
os.kill(int(kids[0]), signal.SIGKILL)
for line in s.read_until_status():
    print(line)
rc, out, err = s.close()
print("exit", rc)
PY
python3 "$SCRATCH/kill.py" "$JOL" "$REPO" "$RESP" "$HERE" >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="server with a killed child"
expect_status 0
expect_stdout <<'X'
E Terminated with fatal signal 9
error  
exit 0
X

check "no temporary tree is left" sh -c "! ls '$TMPDIR' | grep -q '^jol-serv'"
finish
