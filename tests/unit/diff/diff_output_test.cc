// Output styles and the engine's answers to options and operands.
#include "tests/unit/diff/diff_test_util.h"

TEST(DiffRcsStyle, ReplaceAppendDelete) {
    const std::string five = "1\n2\n3\n4\n5\n";
    EXPECT_EQ(diff_texts(five, "1\n2\nX\n4\n5\n", {"-n"}).out, "d3 1\na3 1\nX\n");
    EXPECT_EQ(diff_texts(five, five + "6\n7\n", {"-n"}).out, "a5 2\n6\n7\n");
    EXPECT_EQ(diff_texts(five, "3\n4\n5\n", {"-n"}).out, "d1 2\n");
    EXPECT_EQ(diff_texts("", "x\n", {"-n"}).out, "a0 1\nx\n");
    EXPECT_EQ(diff_texts("x\n", "", {"-n"}).out, "d1 1\n");
}

TEST(DiffRcsStyle, MissingFinalNewline) {
    EngineRun r = diff_texts("1\n2\n", "1\n2\n3", {"-n"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "a2 1\n3");
    EXPECT_EQ(r.errors, "");
    // An incomplete last line never matches a complete one.
    EXPECT_EQ(diff_texts("1\n2", "1\n2\n", {"-n"}).out, "d2 1\na2 1\n2\n");
    EXPECT_EQ(diff_texts("1\n2", "1\n2\n", {"-n", "-b"}).status, 0);
    EXPECT_EQ(diff_texts("1\n2", "1\n2", {"-n"}).status, 0);
}

TEST(DiffNormalStyle, ChangesAndNoNewlineMarker) {
    EXPECT_EQ(diff_texts("a\nb\nc\n", "a\nB\nc\n").out, "2c2\n< b\n---\n> B\n");
    EXPECT_EQ(diff_texts("a\nb\nc\nd\n", "a\nd\n").out, "2,3d1\n< b\n< c\n");
    EXPECT_EQ(diff_texts("a\n", "a\nb").out, "1a2\n> b\n\\ No newline at end of file\n");
    // A line identical to its neighbour is shown after the existing one.
    EXPECT_EQ(diff_texts("a\nb\nc\n", "a\nb\nb\nc\n").out, "2a3\n> b\n");
}

TEST(DiffContextStyle, HunkGroupingByContext) {
    std::string base;
    for (int i = 1; i <= 20; ++i)
        base += std::to_string(i) + "\n";
    auto changed = [&](int x, int y) {
        std::string t;
        for (int i = 1; i <= 20; ++i)
            t += (i == x || i == y ? "X" : std::to_string(i)) + "\n";
        return t;
    };
    auto hunks = [](const std::string &out, const std::string &marker) {
        size_t n = 0;
        for (size_t p = out.find(marker); p != std::string::npos; p = out.find(marker, p + 1))
            ++n;
        return n;
    };
    // Six unchanged lines between two changes: one hunk; seven: two.
    EXPECT_EQ(hunks(diff_texts(base, changed(5, 12), {"-c"}).out, "***************"), 1u);
    EXPECT_EQ(hunks(diff_texts(base, changed(5, 13), {"-c"}).out, "***************"), 2u);
    EXPECT_EQ(hunks(diff_texts(base, changed(5, 12), {"-u"}).out, "@@ -"), 1u);
    EXPECT_EQ(hunks(diff_texts(base, changed(5, 13), {"-u"}).out, "@@ -"), 2u);
    EXPECT_EQ(hunks(diff_texts(base, changed(5, 7), {"-U", "0"}).out, "@@ -"), 2u);
}

TEST(DiffContextStyle, ExactHunkBodiesWithLabels) {
    EngineRun c = diff_texts("a\nb\nc\nd\n", "a\nB\nc\nd\ne\n", {"-c", "-L", "old", "-L", "new"});
    EXPECT_EQ(c.out,
              "*** old\n--- new\n***************\n*** 1,4 ****\n  a\n! b\n  c\n  d\n"
              "--- 1,5 ----\n  a\n! B\n  c\n  d\n+ e\n");
    EngineRun u = diff_texts("a\nb\nc\nd\n", "a\nB\nc\nd\ne\n", {"-u", "-L", "old", "-L", "new"});
    EXPECT_EQ(u.out, "--- old\n+++ new\n@@ -1,4 +1,5 @@\n a\n-b\n+B\n c\n d\n+e\n");
    // Insertion into an empty file starts its range at 0,0.
    EXPECT_EQ(diff_texts("", "x\ny\n", {"-u", "-L", "a", "-L", "b"}).out,
              "--- a\n+++ b\n@@ -0,0 +1,2 @@\n+x\n+y\n");
    // Without labels the header carries the name and a modification time.
    EngineRun t = diff_texts("a\n", "b\n", {"-u"});
    EXPECT_NE(t.out.find("--- /tmp/"), std::string::npos);
    EXPECT_NE(t.out.find("\t"), std::string::npos);
}

TEST(DiffEdStyle, DotLinesAndForwardOrder) {
    EXPECT_EQ(diff_texts("a\nb\n", "a\n.\nb\n", {"-e"}).out, "1a\n..\n.\n2s/^\\.\\././\n");
    EXPECT_EQ(diff_texts("a\nb\n", "a\n.\nc\nb\n", {"-e"}).out,
              "1a\n..\n.\n2s/^\\.\\././\n2a\nc\n.\n");
    // Ed scripts run backwards, forward-ed scripts forwards.
    EXPECT_EQ(diff_texts("1\n2\n3\n", "X\n2\nY\n", {"-e"}).out, "3c\nY\n.\n1c\nX\n.\n");
    EXPECT_EQ(diff_texts("1\n2\n3\n", "X\n2\nY\n", {"-f"}).out, "c1\nX\n.\nc3\nY\n.\n");
    EngineRun r = diff_texts("a\nb", "a\nc", {"-e"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.errors.find("No newline at end of file"), std::string::npos);
}

TEST(DiffEdStyle, DifferenceOnlyInFinalNewlineIsTrouble) {
    // Ed scripts compare such lines as equal, yet cannot express the
    // missing line feed: the files must not pass as identical.
    for (const char *style : {"-e", "-f"}) {
        Scratch s;
        std::string with = s.file("with", "x\na\n"), without = s.file("without", "x\na");
        for (const auto &[a, b] : {std::pair{with, without}, std::pair{without, with}}) {
            EngineRun r = run_diff({style, a, b});
            EXPECT_EQ(r.status, 2) << style;
            EXPECT_EQ(r.out, "") << style;
            EXPECT_EQ(r.errors, "No newline at end of file " + without + "\n") << style;
        }
        EXPECT_EQ(run_diff({style, with, with}).status, 0) << style;
    }
}

TEST(DiffMergedStyle, IfdefAndFormats) {
    EXPECT_EQ(diff_texts("a\nb\nc\n", "a\nB\nc\n", {"-D", "NEW"}).out,
              "a\n#ifndef NEW\nb\n#else /* NEW */\nB\n#endif /* NEW */\nc\n");
    EXPECT_EQ(diff_texts("a\n", "a\nb\n", {"--new-group-format=[%>]", "--unchanged-group-format=%="}).out,
              "a\n[b\n]");
    EXPECT_EQ(diff_texts("a\nb\n", "a\nc\n", {"--line-format=%dn:%L"}).out, "1:a\n2:b\n2:c\n");
    EXPECT_EQ(diff_texts("x\n", "y\n", {"--old-group-format=%(e=e?E:N)%<", "--new-group-format="}).out,
              "Ex\n");
    // A macro name with "%" cannot inject directives.
    EXPECT_EQ(diff_texts("a\n", "b\n", {"-D", "%<"}).out,
              "#ifndef %<\na\n#else /* %< */\nb\n#endif /* %< */\n");
}

TEST(DiffSideBySide, Columns) {
    EngineRun r = diff_texts("same\nold\n", "same\nnew\nmore\n", {"-y", "-W", "40"});
    EXPECT_EQ(r.out, "same\t\t\tsame\nold\t\t   |\tnew\n\t\t   >\tmore\n");
    EXPECT_EQ(diff_texts("same\nold\n", "same\nnew\n", {"-y", "-W", "40", "--suppress-common-lines"}).out,
              "old\t\t   |\tnew\n");
}

TEST(DiffSideBySide, MissingFinalNewline) {
    // The gutter says which side lacks the line feed; a line feed ends the
    // output line only when one of the two lines had it.
    const std::vector<std::string> w40 = {"-y", "-W", "40"};
    EXPECT_EQ(diff_texts("a\n", "a", w40).out, "a\t\t   /\ta\n");
    EXPECT_EQ(diff_texts("a", "a\n", w40).out, "a\t\t   \\\ta\n");
    EXPECT_EQ(diff_texts("old", "new\n", w40).out, "old\t\t   \\\tnew\n");
    EXPECT_EQ(diff_texts("s\nx", "s\ny", w40).out, "s\t\t\ts\nx\t\t   |\ty");
    EXPECT_EQ(diff_texts("", "a", w40).out, "\t\t   >\ta");
    EXPECT_EQ(diff_texts("a", "", w40).out, "a\t\t   <");
    EXPECT_EQ(diff_texts("a", "a", w40).out, "a\t\t\ta");
}

TEST(DiffAnswers, IdenticalBinaryBriefAndIgnoring) {
    EngineRun same = diff_texts("a\n", "a\n");
    EXPECT_EQ(same.status, 0);
    EXPECT_EQ(same.out, "");
    EXPECT_NE(diff_texts("a\n", "a\n", {"-s"}).out.find(" are identical\n"), std::string::npos);
    EngineRun bin = diff_texts(std::string("a\0b", 3), std::string("a\0c", 3));
    EXPECT_EQ(bin.status, 1);
    EXPECT_EQ(bin.out.substr(0, 13), "Binary files ");
    EXPECT_EQ(diff_texts(std::string("a\0b", 3), std::string("a\0c", 3), {"-a", "-n"}).out,
              std::string("d1 1\na1 1\na\0c", 13));
    EngineRun brief = diff_texts("a\n", "b\n", {"-q"});
    EXPECT_EQ(brief.status, 1);
    EXPECT_EQ(brief.out.substr(0, 6), "Files ");
    EXPECT_EQ(diff_texts("a\n\nb\n", "a\nb\n\n", {"-B"}).status, 0);
    EXPECT_EQ(diff_texts("a\n#x\nb\n", "a\nb\n#y\n", {"-I", "^#"}).status, 0);
    EXPECT_EQ(diff_texts("a  b\n", "a b \n", {"-b"}).status, 0);
    EXPECT_EQ(diff_texts("ab\n", "a b\n", {"-w"}).status, 0);
    EXPECT_EQ(diff_texts("ABC\n", "abc\n", {"-i"}).status, 0);
    EXPECT_EQ(diff_texts("ABC\n", "abd\n", {"-i"}).status, 1);
}

TEST(DiffAnswers, OperandAndOptionProblems) {
    Scratch s;
    std::string a = s.file("a", "x\n"), b = s.file("b", "y\n");
    EngineRun missing = run_diff({a});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.errors, "missing operand\nTry `diff --help' for more information.\n");
    EngineRun extra = run_diff({a, b, a});
    EXPECT_EQ(extra.status, 2);
    EXPECT_EQ(extra.errors, "extra operand\nTry `diff --help' for more information.\n");
    EXPECT_EQ(run_diff({"-c", "-u", a, b}).errors, "conflicting specifications of output style\n");
    EXPECT_EQ(run_diff({"-C", "x", a, b}).errors, "invalid context length argument\n");
    EXPECT_EQ(run_diff({"-W", "0", a, b}).errors, "column width must be a positive integer\n");
    EXPECT_EQ(run_diff({"--horizon-lines=-1", a, b}).errors, "horizon must be a nonnegative integer\n");
    EXPECT_EQ(run_diff({"-L", "1", "-L", "2", "-L", "3", a, b}).errors, "too many file label options\n");
    EXPECT_EQ(run_diff({"-l", a, b}).errors, "can't paginate when using library callbacks\n");
    EXPECT_EQ(run_diff({"-Z", a, b}).status, 2);
    EXPECT_EQ(run_diff({"--no-such-option", a, b}).status, 2);
    EXPECT_EQ(run_diff({"--hor=2", "-n", a, b}).status, 1);  // unique abbreviation
    EngineRun gone = run_diff({s.path("none"), b});
    EXPECT_EQ(gone.status, 2);
    EXPECT_NE(gone.errors.find("No such file or directory"), std::string::npos);
    EXPECT_EQ(run_diff({"-N", "-n", s.path("none"), b}).out, "a0 1\ny\n");
    EXPECT_EQ(run_diff({"-P", "-n", s.path("none"), b}).out, "a0 1\ny\n");
    EXPECT_EQ(run_diff({"-P", a, s.path("none")}).status, 2);
    EngineRun v = run_diff({"-v"});
    EXPECT_EQ(v.status, 0);
    EXPECT_NE(v.info.find("2.7"), std::string::npos);
    // A file and a directory are reported, not compared.
    EngineRun dir = run_diff({a, "/tmp"});
    EXPECT_EQ(dir.status, 1);
    EXPECT_NE(dir.out.find(" is a regular file while file /tmp is a directory\n"), std::string::npos);
    // Options after operands still count; "--" ends them.
    EXPECT_EQ(run_diff({a, b, "-n"}).out, "d1 1\na1 1\ny\n");
    EXPECT_EQ(run_diff({"--", a, "-n"}).status, 2);
}

TEST(DiffAnswers, OutputFile) {
    Scratch s;
    std::string a = s.file("a", "x\n"), b = s.file("b", "y\n"), out = s.path("out");
    EngineRun r = run_engine(diff_run, {"diff", "-n", a, b}, out.c_str());
    EXPECT_EQ(r.status, 1);
    std::ifstream in(out);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "d1 1\na1 1\ny\n");
    EngineRun bad = run_engine(diff_run, {"diff", a, b}, s.path("no/such/dir").c_str());
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.errors, "could not open output file\n");
    // A write callback together with an output file is refused.
    EngineRun both;
    diff_test::current = &both;
    diff_callbacks cb{diff_test::on_output, nullptr, nullptr, diff_test::on_error};
    std::string args[] = {"diff", a, b};
    char *argv[] = {args[0].data(), args[1].data(), args[2].data(), nullptr};
    EXPECT_EQ(diff_run(3, argv, out.c_str(), &cb), 2);
    EXPECT_EQ(both.errors, "write callback with output file\n");
    diff_test::current = nullptr;
}
