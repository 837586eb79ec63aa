#!/bin/bash
# status and diff on a local repository: the status block of a file in
# each state, diff styles between revisions and the working file, added
# and removed files with and without -N, and the exit statuses.
. "$(dirname "$0")/lib.sh"

new_project proj
printf 'a\nb\nc\n' >f.txt
printf 'x\n' >g.txt
printf 'gone\n' >old.txt
jol -Q add f.txt g.txt old.txt
jol -Q commit -m first
expect_status 0

# Entry time stamps differ from run to run: blank them out.
stamps() { sed -E 's/\t[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9:]{8} [0-9]{4}$/\tSTAMP/' "$OUT"; }
# entry_stamp FILE: the working revision's time stamp column; a server
# shows none (its entries' time stamps are not the client's).
entry_stamp() {
    remote || printf '\t%s' "$(grep "^/$1/" JOL/Entries | cut -d/ -f4)"
}
STAMP=$'\tSTAMP'
remote && STAMP=

printf 'a\nB\nc\n' >f.txt
jol status f.txt g.txt
expect_status 0
stamps >"$SCRATCH/status.out"
OUT=$SCRATCH/status.out expect_stdout <<EOF
===================================================================
File: f.txt            	Status: Locally Modified

   Working revision:	1.1$STAMP
   Repository revision:	1.1	$REPO/proj/f.txt,v
   Sticky Tag:		(none)
   Sticky Date:		(none)
   Sticky Options:	(none)

===================================================================
File: g.txt            	Status: Up-to-date

   Working revision:	1.1$STAMP
   Repository revision:	1.1	$REPO/proj/g.txt,v
   Sticky Tag:		(none)
   Sticky Date:		(none)
   Sticky Options:	(none)

EOF

# -v on an archive without symbols; -Q drops the (none) lines.
jol -Q status -v g.txt
stamps >"$SCRATCH/status.out"
OUT=$SCRATCH/status.out expect_stdout <<EOF
===================================================================
File: g.txt            	Status: Up-to-date

   Working revision:	1.1$STAMP
   Repository revision:	1.1	$REPO/proj/g.txt,v

   Existing Tags:
	No Tags Exist

EOF

# Added, removed, lost and unknown files, and sticky options.
printf 'new\n' >h.txt
jol -Q add -kb h.txt
rm old.txt
jol -Q remove old.txt
rm g.txt
printf 'stray\n' >stray.txt
jol -Q status h.txt old.txt g.txt stray.txt
expect_stdout <<EOF
===================================================================
File: h.txt            	Status: Locally Added

   Working revision:	New file!
   Repository revision:	No revision control file
   Sticky Options:	-kb

===================================================================
File: no file old.txt		Status: Locally Removed

   Working revision:	-1.1$(entry_stamp old.txt)
   Repository revision:	1.1	$REPO/proj/old.txt,v

===================================================================
File: no file g.txt		Status: Needs Checkout

   Working revision:	1.1$(entry_stamp g.txt)
   Repository revision:	1.1	$REPO/proj/g.txt,v

===================================================================
File: stray.txt        	Status: Unknown

   Working revision:	No entry for stray.txt
   Repository revision:	No revision control file

EOF
jol -Q update g.txt

# A merge that left conflict markers, then an edit: "File had conflicts on merge".
cd "$SCRATCH"
jol -Q checkout -d other proj
cd other
printf 'a\nb\nC2\n' >f.txt
jol -Q commit -m "other side"
cd "$SCRATCH/proj"
printf 'a\nB\nC1\n' >f.txt
jol -Q update f.txt
check "update left conflict markers" grep -q '^<<<<<<< f.txt' f.txt
jol -Q status f.txt
expect_stdout_has "Status: File had conflicts on merge"
printf 'a\nB\nC3\n' >f.txt
jol -Q commit -m resolved f.txt
expect_status 0

# -v lists the tags, branches with their branch numbers; a sticky branch
# tag names its branch.
jol -Q tag rel-1 f.txt
jol -Q tag -b br f.txt
jol -Q update -r br f.txt
jol -Q status -v f.txt
expect_stdout_has "   Sticky Tag:		br (branch: 1.3.2)"
expect_stdout_has "	rel-1                    	(revision: 1.3)"
expect_stdout_has "	br                       	(branch: 1.3.2)"
jol -Q update -A f.txt
jol -Q status f.txt
expect_stdout_has "Status: Up-to-date"

# diff of an unmodified file prints nothing and exits 0.
jol -Q diff f.txt
expect_status 0
expect_stdout </dev/null

# Two revisions in unified and context style; exit 1 for differences.
jol -Q diff -u -r1.1 -r1.2 f.txt
expect_status 1
sed -E 's/\t[0-9]{4}\/[0-9]{2}\/[0-9]{2} [0-9:]{8}\t/\tDATE\t/' "$OUT" >"$SCRATCH/diff.out"
OUT=$SCRATCH/diff.out expect_stdout <<EOF
Index: f.txt
===================================================================
RCS file: $REPO/proj/f.txt,v
retrieving revision 1.1
retrieving revision 1.2
diff -u -r1.1 -r1.2
--- f.txt	DATE	1.1
+++ f.txt	DATE	1.2
@@ -1,3 +1,3 @@
 a
 b
-c
+C2
EOF
jol -Q diff -c -r1.2 -r1.3 f.txt
expect_status 1
expect_stdout_has "*** 1,3 ****"
expect_stdout_has "! C2"
expect_stdout_has "! C3"
jol -Q diff -r1.1 -r1.1 f.txt
expect_status 0
expect_stdout </dev/null

# The working file against a revision, in the default style.
printf 'a\nB\nC3\nD\n' >f.txt
jol -Q diff -r1.3 f.txt
expect_status 1
expect_stdout_has "diff -r1.3 f.txt"
expect_stdout_has "3a4"
expect_stdout_has "> D"
# -D names a date: the first revision is older than any date after it.
jol -Q diff -D "2100-01-01" f.txt
expect_status 1
expect_stdout_has "retrieving revision 1.3"

# Added and removed files: refused without -N, whole files with it.
jol -Q diff h.txt old.txt
expect_status 1
expect_stderr_has "h.txt is a new entry, no comparison available"
expect_stderr_has "old.txt was removed, no comparison available"
jol -Q diff -N h.txt
expect_status 1
expect_stdout <<EOF
Index: h.txt
===================================================================
RCS file: h.txt
diff -N h.txt
0a1
> new
EOF
jol -Q diff -N old.txt
expect_status 1
expect_stdout_has "diff -N old.txt"
expect_stdout_has "< gone"

# Tags a file lacks, too many revisions, and files nobody knows.
jol -Q diff -r 1.9 f.txt
expect_status 1
expect_stderr_has "tag 1.9 is not in file f.txt"
jol -Q diff -r1.1 -r1.2 -r1.3 f.txt
expect_status 1
expect_stderr_has "no more than two revisions/dates can be specified"
jol -Q diff stray.txt
expect_status 1
expect_stderr_has "I know nothing about stray.txt"

# Long options reach the engine; labels replace the generated ones.
printf 'a\nB  \nC3\n' >f.txt
jol -Q diff --ignore-space-change f.txt
expect_status 0
jol -Q diff -u -L left -L right f.txt
expect_status 1
expect_stdout_has "--- left"
expect_stdout_has "+++ right"
finish
