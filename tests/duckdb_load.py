"""DuckDB for the output tests: query(sql) gives the rows of the last
statement (dicts), or None when the build has no DuckDB (its Node.js package
under $LOGBASE_DUCKDB_DIR, which the test build installs when npm can)."""
import json, os, subprocess

RUNNER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "duckdb_query.cjs")


def available():
    where = os.environ.get("LOGBASE_DUCKDB_DIR", "")
    return os.path.isdir(os.path.join(where, "node_modules", "@duckdb", "node-api"))


def query(sql):
    """Raises with DuckDB's message when it refuses."""
    if not available():
        return None
    result = subprocess.run(["node", RUNNER, os.environ["LOGBASE_DUCKDB_DIR"], sql], capture_output=True)
    if result.returncode != 0:
        raise RuntimeError(f"DuckDB refused {sql!r}: {result.stderr.decode(errors='replace')}")
    return json.loads(result.stdout)
