#include "relay/store/Sqlite.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace quillet::relay;
namespace fs = std::filesystem;

namespace {

class SqliteTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir =
            fs::temp_directory_path() /
            ("quillet-sqlite-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }
    std::string Path() const { return (m_dir / "t.db").string(); }

    fs::path m_dir;
};

} // namespace

TEST_F(SqliteTest, MigrationRunsOnlyNewSteps) {
    {
        Database db(Path());
        db.Migrate("c", {"CREATE TABLE a(x INTEGER)"});
        EXPECT_EQ(db.SchemaVersion("c"), 1);
        EXPECT_EQ(db.SchemaVersion("other"), 0);
    }
    Database db(Path());
    // Step 0 would fail if it ran again (the table exists).
    db.Migrate("c", {"CREATE TABLE a(x INTEGER)", "ALTER TABLE a ADD COLUMN y TEXT"});
    EXPECT_EQ(db.SchemaVersion("c"), 2);
    db.Prepare("INSERT INTO a(x, y) VALUES(?1, ?2)")->Bind(1, int64_t{7}).Bind(2, "s").Run();
    auto q = db.Prepare("SELECT x, y FROM a");
    ASSERT_TRUE(q->Step());
    EXPECT_EQ(q->Int(0), 7);
    EXPECT_EQ(q->Text(1), "s");
    EXPECT_FALSE(q->Step());
    // A database written by a newer program is not silently downgraded.
    EXPECT_THROW(db.Migrate("c", {"CREATE TABLE a(x INTEGER)"}), SqliteError);
}

TEST_F(SqliteTest, TransactionRollsBackUnlessCommitted) {
    Database db(Path());
    db.Exec("CREATE TABLE a(x INTEGER)");
    {
        Transaction tx(db);
        db.Exec("INSERT INTO a VALUES(1)");
    }
    {
        Transaction tx(db);
        db.Exec("INSERT INTO a VALUES(2)");
        tx.Commit();
    }
    auto q = db.Prepare("SELECT group_concat(x) FROM a");
    ASSERT_TRUE(q->Step());
    EXPECT_EQ(q->Text(0), "2");
}

TEST_F(SqliteTest, LeaseResetsBindingsAndBlobsKeepZeroBytes) {
    Database db(Path());
    db.Exec("CREATE TABLE b(k TEXT, v BLOB)");
    const std::string bytes("a\0b\xff", 4);
    db.Prepare("INSERT INTO b VALUES(?1, ?2)")->Bind(1, "k").BindBlob(2, bytes).Run();
    {
        auto q = db.Prepare("SELECT v FROM b WHERE k = ?1");
        q->Bind(1, "k");
        ASSERT_TRUE(q->Step());
        EXPECT_EQ(q->Blob(0), bytes);
    }
    // The same cached statement, without a binding now, matches nothing.
    auto q = db.Prepare("SELECT v FROM b WHERE k = ?1");
    EXPECT_FALSE(q->Step());
}

TEST_F(SqliteTest, WriterLockedOutReportsTransientError) {
    Database a(Path());
    Database b(Path(), 50);
    a.Exec("CREATE TABLE c(x INTEGER)");
    Transaction hold(a);
    try {
        Transaction tx(b);
        FAIL() << "second writer got the lock";
    } catch (const SqliteError& e) {
        EXPECT_TRUE(e.Transient()) << e.what();
    }
}

TEST_F(SqliteTest, BadSqlIsNotTransient) {
    Database db(Path());
    try {
        db.Exec("SELEC nonsense");
        FAIL();
    } catch (const SqliteError& e) {
        EXPECT_FALSE(e.Transient());
    }
    EXPECT_THROW(db.Prepare("SELECT * FROM missing"), SqliteError);
}
