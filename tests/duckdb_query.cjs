// duckdb_query.cjs MODULE_DIR SQL: runs SQL in an in-memory DuckDB (its
// Node.js package, installed under MODULE_DIR) and prints the last
// statement's rows as a JSON array of objects; an error goes to stderr with
// status 1. The tests load the tool's outputs through it as a user would.
const path = require("node:path");
const { DuckDBInstance } = require(path.join(process.argv[2], "node_modules", "@duckdb", "node-api"));

(async () => {
    const connection = await (await DuckDBInstance.create(":memory:")).connect();
    const reader = await connection.runAndReadAll(process.argv[3]);
    const rows = reader.getRowObjectsJS();
    const plain = (key, value) => (typeof value === "bigint" ? Number(value) : value);
    process.stdout.write(JSON.stringify(rows, plain) + "\n");
})().catch((error) => {
    process.stderr.write(String(error.message || error) + "\n");
    process.exit(1);
});
