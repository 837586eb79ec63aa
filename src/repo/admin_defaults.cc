// The explanatory default contents of the administrative files that init
// creates in JOLROOT.
#include "src/repo/admin_files.h"

namespace {

const char loginfo_default[] =
    "# The \"loginfo\" file says which programs receive the log message of a\n"
    "# commit.  Each line holds a regular expression and a command; the\n"
    "# expression is matched against the directory of the commit, taken\n"
    "# relative to the repository root.  The command of the first matching\n"
    "# line is run with the log message on its standard input.\n"
    "#\n"
    "# A line whose expression is the word DEFAULT applies when no other\n"
    "# expression matched.  Lines whose expression is the word ALL apply to\n"
    "# every commit, in addition to the matching line or DEFAULT.\n"
    "#\n"
    "# The command may contain one format directive: a \"%\" followed by one\n"
    "# letter, or by letters in braces.  It is replaced by the list of files\n"
    "# of the commit, written as the directory and then, for every file, the\n"
    "# fields chosen by the letters, joined by commas.\n"
    "#\n"
    "# The letters are:\n"
    "#   s   the file name\n"
    "#   V   the revision before the commit\n"
    "#   v   the revision made by the commit\n"
    "#\n"
    "# Each word of the list is quoted for the shell.\n"
    "#\n"
    "# Examples (remove the leading \"#\" to use one):\n"
    "#DEFAULT (echo \"\"; id; echo %s; date; cat) >> $JOLROOT/JOLROOT/commitlog\n"
    "# or, with the revisions of every file:\n"
    "#DEFAULT (echo \"\"; id; echo %{sVv}; date; cat) >> $JOLROOT/JOLROOT/commitlog\n";

const char rcsinfo_default[] =
    "# The \"rcsinfo\" file chooses the template that the editor starts with\n"
    "# when a log message is written for a commit or an import.\n"
    "#\n"
    "# Each line holds a regular expression and the name of a template file.\n"
    "# The expression is matched against the directory of the commit, taken\n"
    "# relative to the repository root; the template of the first matching\n"
    "# line is used.\n"
    "#\n"
    "# A line whose expression is DEFAULT applies when nothing else matched.\n"
    "#\n"
    "# Lines whose expression is ALL are used as well as the matching line\n"
    "# or DEFAULT.  A template file name may use the variables of the other\n"
    "# administrative files, such as $JOLROOT.\n";

const char editinfo_default[] =
    "# The \"editinfo\" file names programs that may edit or check a log\n"
    "# message before a commit goes ahead.  It is kept for old setups; new\n"
    "# ones use \"verifymsg\", which is read the same way.\n"
    "#\n"
    "# Each line holds a regular expression and a program.  The expression\n"
    "# is matched against the directory of the commit, relative to the\n"
    "# repository root, and the program of the first matching line runs\n"
    "# with the name of a file holding the log message as its argument.\n"
    "#\n"
    "# When the program exits with a status other than zero the commit is\n"
    "# stopped, and nothing is written to the repository.\n"
    "#\n"
    "# This works best together with a template from \"rcsinfo\": the\n"
    "# program can then check that every field of the template was filled\n"
    "# in, for example a problem report number or the names of reviewers.\n"
    "#\n"
    "# Sending copies of the message elsewhere is better done from\n"
    "# \"loginfo\", which runs after the commit.\n"
    "#\n"
    "# The keyword ALL is not used here: only one line applies to a\n"
    "# directory, the first that matches, or else the DEFAULT line.\n";

const char verifymsg_default[] =
    "# The \"verifymsg\" file names programs that check a log message before\n"
    "# a commit goes ahead.  It takes the place of the older \"editinfo\".\n"
    "#\n"
    "#\n"
    "# Each line holds a regular expression and a program.  The expression\n"
    "# is matched against the directory of the commit, relative to the\n"
    "# repository root, and the program of the first matching line runs\n"
    "# with the name of a file holding the log message as its argument.\n"
    "#\n"
    "# When the program exits with a status other than zero the commit is\n"
    "# stopped, and nothing is written to the repository.\n"
    "#\n"
    "# This works best together with a template from \"rcsinfo\": the\n"
    "# program can then check that every field of the template was filled\n"
    "# in, for example a problem report number or the names of reviewers.\n"
    "#\n"
    "# Sending copies of the message elsewhere is better done from\n"
    "# \"loginfo\", which runs after the commit.\n"
    "#\n"
    "# The keyword ALL is not used here: only one line applies to a\n"
    "# directory, the first that matches, or else the DEFAULT line.\n";

const char commitinfo_default[] =
    "# The \"commitinfo\" file names programs that run before a commit.\n"
    "# Each program receives the repository directory and the names of the\n"
    "# files being committed as its arguments.  A status other than zero\n"
    "# from the program stops the commit.\n"
    "#\n"
    "# Each line holds a regular expression and a program.  The expression\n"
    "# is matched against the directory of the commit, relative to the\n"
    "# repository root; the program of the first matching line runs.\n"
    "#\n"
    "#\n"
    "# A line whose expression is DEFAULT applies when no other expression\n"
    "# matched.\n"
    "#\n"
    "# Lines whose expression is ALL run for every commit as well as the\n"
    "# matching line or DEFAULT.\n";

const char taginfo_default[] =
    "# The \"taginfo\" file is used to control pre-tag checks.\n"
    "# The program of a line is run before a tag is set, moved or deleted,\n"
    "# with these arguments:\n"
    "#\n"
    "#   1: the tag name\n"
    "#   2: the operation: \"add\" to set, \"mov\" to move (-F), \"del\" to delete (-d)\n"
    "#   3: the repository directory\n"
    "#   4 and later: pairs of a file name and its revision\n"
    "#\n"
    "# A status other than zero from the program stops the tag operation.\n"
    "#\n"
    "# Each line holds a regular expression and a program.  The expression\n"
    "# is matched against the directory being tagged, relative to the\n"
    "# repository root; the program of the first matching line runs.\n"
    "#\n"
    "#\n"
    "# A line whose expression is DEFAULT applies when no other expression\n"
    "# matched.\n"
    "#\n"
    "# Lines whose expression is ALL run as well as the matching line.\n";

const char checkoutlist_default[] =
    "# The \"checkoutlist\" file lists further files of this directory\n"
    "# (JOLROOT) that are kept under version control here, such as the\n"
    "# templates named in \"rcsinfo\" or programs used by the other files.\n"
    "# After every commit to JOLROOT the current revision of each listed\n"
    "# file is checked out next to its archive.\n"
    "#\n"
    "# Each line holds a file name and, after white space, a message that is\n"
    "# shown when the file cannot be checked out.  A \"%s\" in the message\n"
    "# stands for the file name.\n"
    "#\n"
    "# Names may not contain \"/\" or \"..\": only files of JOLROOT are listed.\n"
    "#\n"
    "# Lines starting with \"#\" are comments.\n";

const char jolwrappers_default[] =
    "# The \"jolwrappers\" file gives options to files by the pattern of their\n"
    "# names.  Each line holds a shell-style pattern, then options, each an\n"
    "# option letter and a value in single quotes.\n"
    "#\n"
    "# A pattern that contains blanks is written in double quotes.\n"
    "# The options are:\n"
    "#   -k 'mode'    the keyword mode a new file of that name gets,\n"
    "#                for example 'b' for binary files that are never merged\n"
    "#   -m 'COPY'    an update replaces a locally changed file (after\n"
    "#                keeping a copy) instead of merging into it; 'MERGE'\n"
    "#                is the default\n"
    "#\n"
    "# Options -t and -f (filters for files on their way in and out) are not\n"
    "# supported, and a line using them is refused.\n"
    "#\n"
    "# The first line whose pattern matches a name decides for that name.\n"
    "#\n"
    "# The same lines may be given in a \".jolwrappers\" file in the home\n"
    "# directory or in a working directory, and in the JOLWRAPPERS\n"
    "# environment variable.\n"
    "#\n"
    "# Example (remove the leading \"#\" to use it):\n"
    "#*.gif -k 'b'\n";

const char notify_default[] =
    "# The \"notify\" file says how the people watching a file are told that\n"
    "# someone edits, unedits or commits it.  Each line holds a regular\n"
    "# expression and a command; the expression is matched against the\n"
    "# directory of the file, relative to the repository root.  The command\n"
    "# of the first matching line runs once per person to notify.\n"
    "#\n"
    "# A \"%s\" in the command is replaced by the name of that person; the\n"
    "# text of the notification arrives on the command's standard input.\n"
    "#\n"
    "# ALL and DEFAULT may be used in place of an expression.\n"
    "# Example (remove the leading \"#\" to use it):\n"
    "#ALL mail -s \"JOL notification\" %s\n";

const char modules_default[] =
    "# The \"modules\" file gives names to parts of the repository.  Each\n"
    "# entry is a module name followed by its definition, in one of three forms:\n"
    "#\tname\t-a    other names and directories...\n"
    "#\tname [options] directory\n"
    "#\tname [options] directory files...\n"
    "#\n"
    "# The options are:\n"
    "#\t-i prog\t\tRun \"prog\" after \"jol commit\" in the module's top directory.\n"
    "#\t-o prog\t\tRun \"prog\" after \"jol checkout\" of the module.\n"
    "#\t-e prog\t\tRun \"prog\" after \"jol export\" of the module.\n"
    "#\t-t prog\t\tRun \"prog\" after \"jol rtag\" of the module.\n"
    "#\t-u prog\t\tRun \"prog\" after \"jol update\" in the module's top directory.\n"
    "#\t-d dir\t\tPlace module in directory \"dir\" instead of module name.\n"
    "#\t-l\t\tTop-level directory only -- do not recurse.\n"
    "#\n"
    "# A working copy remembers the programs of the module it was checked out\n"
    "# from; after changing them, check the module out again.\n"
    "#\n"
    "# \"directory\" is a path relative to the repository root.\n"
    "#\n"
    "# With \"-a\" the name is an alias: using it is the same as typing the\n"
    "# names and directories that follow on the command line.\n"
    "#\n"
    "# A word \"&name\" in a definition places the module \"name\" inside this\n"
    "# one, so a module can gather directories from all over the repository.\n"
    "# A word \"!dir\" in an alias leaves that directory out.\n";

const char config_default[] =
    "# Set this to \"no\" if the password server should not check system passwords\n"
    "#SystemAuth=no\n"
    "#\n"
    "# Keep the lock files in a parallel tree under this directory\n"
    "#LockDir=/var/lock/jol\n"
    "#\n"
    "# Set TopLevelAdmin to \"yes\" to give the directory in which\n"
    "# \"jol checkout\" runs a JOL directory of its own, so that commands run\n"
    "# there later reach every module checked out below it.\n"
    "#TopLevelAdmin=no\n"
    "#\n"
    "# Which kinds of events go to the history file: \"all\", or the letters\n"
    "# of the record types to keep (for example \"TMAR\" for write operations).\n"
    "#LogHistory=TOFEWGCMAR\n";

}  // namespace

// Format: doc/formats.md#admin-copies
const AdminFile admin_files[] = {
    {"loginfo", "no logging of 'jol commit' messages is done without a %s file", loginfo_default},
    {"rcsinfo", "a %s file can be used to configure 'jol commit' templates", rcsinfo_default},
    {"editinfo", "a %s file can be used to validate log messages", editinfo_default},
    {"verifymsg", "a %s file can be used to validate log messages", verifymsg_default},
    {"commitinfo", "a %s file can be used to configure 'jol commit' checking", commitinfo_default},
    {"taginfo", "a %s file can be used to configure 'jol tag' checking", taginfo_default},
    {"jolignore", "a %s file can be used to specify files to ignore", nullptr},
    {"checkoutlist", "a %s file can specify extra JOLROOT files to auto-checkout",
     checkoutlist_default},
    {"jolwrappers", "a %s file can be used to specify files to treat as wrappers",
     jolwrappers_default},
    {"notify", "a %s file can be used to specify where notifications go", notify_default},
    {"modules", nullptr, modules_default},
    {"readers", "a %s file specifies read-only users", nullptr},
    {"writers", "a %s file specifies read/write users", nullptr},
    {"config", "a %s file configures various behaviors", config_default},
    {nullptr, nullptr, nullptr},
};
