# Sourced by the tests of the documentation before lib.sh: the manual
# pages, the completion script and the page generator live outside
# tests/e2e, where the test user may not be able to read them, so the
# script runs again with a readable copy of them in $JOL_DOCS.
if [ -z "${JOL_DOCS:-}" ] && [ "${JOL_TEST_ROOT:-}" != fork ]; then
    doc_src=$(cd "$(dirname "$0")/../.." && pwd)
    JOL_DOCS=$(mktemp -d /tmp/jol-docs.XXXXXX) || exit 1
    mkdir -p "$JOL_DOCS/tools" &&
        cp -R "$doc_src/doc" "$doc_src/contrib" "$JOL_DOCS/" &&
        cp "$doc_src/tools/gen_manpages" "$JOL_DOCS/tools/" &&
        chmod -R a+rX "$JOL_DOCS" || exit 1
    export JOL_DOCS
    bash "$0" "$@"
    doc_rc=$?
    rm -rf "$JOL_DOCS"
    exit $doc_rc
fi
