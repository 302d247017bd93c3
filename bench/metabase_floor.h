// The floor of the site benchmarks: one query over the IIS stand-in's store,
// read to the end, on a read-only connection of the benchmark's own.
#pragma once

#include <sqlite3.h>

#include <filesystem>

namespace quorvel::bench {

class MetabaseQuery {
public:
    explicit MetabaseQuery(const std::filesystem::path& store) {
        sqlite3_open_v2(store.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr);
    }
    ~MetabaseQuery() { sqlite3_close(db_); }
    MetabaseQuery(const MetabaseQuery&) = delete;
    MetabaseQuery& operator=(const MetabaseQuery&) = delete;

    // Runs `sql` and reads `column` of every row; the number of rows.
    template <typename Keep>
    int Rows(const char* sql, int column, Keep&& keep) const {
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr);
        int rows = 0;
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            keep(sqlite3_column_text(stmt, column));
            ++rows;
        }
        sqlite3_finalize(stmt);
        return rows;
    }

private:
    sqlite3* db_ = nullptr;
};

}  // namespace quorvel::bench
