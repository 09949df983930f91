// Crash safety: writer processes are killed with SIGKILL at random moments
// (while appending, editing memos, deleting, packing, rebuilding the index).
// After each kill the table must open with every record whose write had
// returned, with its memos, and with an index that matches the table.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <random>
#include <sstream>

#include "platform/xbase/support/xbase_test_util.h"
#include "platform/xbase/table.h"

namespace veltrane::xbase {
namespace {

using testing::ScratchDir;
using testing::ViewOrder;

std::string MemoText(int id, int version) {
  std::string text = "{\\rtf1 memo of " + std::to_string(id) + " version " + std::to_string(version);
  text.append(size_t(50 + (id * 37 + version * 11) % 700), char('a' + id % 26));
  return text + "}";
}

std::string TimeOf(int id, int version) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d:%02d", (id + version) % 24, (id * 7 + version) % 60);
  return buf;
}

struct Known {
  int version = 0;  // last memo version reported
  bool deleted = false;
};

// The writer: reports each finished step on `out` ("A id", "E id v", "D id", "P").
[[noreturn]] void Writer(const std::string& path, int next_id, std::map<int, Known> known, int out,
                         unsigned seed) {
  std::mt19937 rng(seed);
  Table t;
  if (!t.Open(path, {{testing::LogTag()}, SyncMode::kOnClose}).ok()) _exit(3);
  auto report = [&](const std::string& line) {
    std::string l = line + "\n";
    if (write(out, l.data(), l.size()) != ssize_t(l.size())) _exit(4);
  };
  std::vector<int> live;
  for (auto& [id, k] : known) {
    if (!k.deleted) live.push_back(id);
  }
  auto find = [&](int id) -> uint32_t {
    t.SetOrder(0);
    t.SetFilter("");
    for (uint32_t r = 1; r <= t.PhysicalCount(); ++r) {
      t.Go(r);
      if (t.GetText("SUBJECT").value() == "id " + std::to_string(id)) return r;
    }
    return 0;
  };
  for (int op = 0; op < 400; ++op) {
    const unsigned dice = rng() % 100;
    if (dice < 60 || live.empty()) {
      const int id = next_id++;
      t.Append();
      t.SetText("SUBJECT", "id " + std::to_string(id));
      t.SetDate("DATESENT", Date{2024, 1 + id % 12, 1 + id % 28});
      t.SetText("TIMESENT", TimeOf(id, 0));
      t.WriteMemo("RTFDOC", MemoText(id, 0));
      if (!t.Post().ok()) _exit(5);
      live.push_back(id);
      known[id] = Known{};
      report("A " + std::to_string(id));
    } else if (dice < 80) {
      const int id = live[rng() % live.size()];
      const uint32_t r = find(id);
      if (r == 0 || !t.Go(r).ok()) _exit(6);
      const int version = known[id].version + 1;
      t.Edit();
      t.SetText("TIMESENT", TimeOf(id, version));
      t.WriteMemo("RTFDOC", MemoText(id, version));
      if (!t.Post().ok()) _exit(7);
      known[id].version = version;
      report("E " + std::to_string(id) + " " + std::to_string(version));
    } else if (dice < 97) {
      const size_t at = rng() % live.size();
      const int id = live[at];
      const uint32_t r = find(id);
      if (r == 0 || !t.Go(r).ok() || !t.Delete().ok()) _exit(8);
      live.erase(live.begin() + long(at));
      report("D " + std::to_string(id));
    } else {
      if (!t.Pack().ok()) _exit(9);
      report("P");
    }
  }
  pause();  // wait for the kill
  _exit(0);
}

TEST(CrashSafety, KilledWritersLeaveEveryFinishedWriteInPlace) {
  ScratchDir dir;
  const std::string path = dir / "VLN.DBF";
  ASSERT_TRUE(Table::Create(path, testing::LogFields()).ok());
  std::map<int, Known> known;  // id -> what the writers reported
  std::set<int> packed_away;
  int next_id = 1;
  std::mt19937 rng(7);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(4);
  int rounds = 0;
  int rebuilt = 0;
  while (std::chrono::steady_clock::now() < deadline || rounds < 10) {
    ++rounds;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(fds[0]);
      Writer(path, next_id, known, fds[1], unsigned(rng()));
    }
    close(fds[1]);
    usleep(useconds_t(rng() % 25000));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "writer failed with exit code " << WEXITSTATUS(status);
    std::string reported;
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) reported.append(buf, size_t(n));
    close(fds[0]);
    std::istringstream lines(reported);
    for (std::string kind; lines >> kind;) {
      int id = 0;
      if (kind == "P") {
        for (auto& [k, v] : known) {
          if (v.deleted) packed_away.insert(k);
        }
        continue;
      }
      lines >> id;
      if (kind == "A") known[id] = Known{};
      if (kind == "E") lines >> known[id].version;
      if (kind == "D") known[id].deleted = true;
      next_id = std::max(next_id, id + 1);
    }

    SCOPED_TRACE("round " + std::to_string(rounds));
    Table t;
    ASSERT_TRUE(t.Open(path, {{testing::LogTag()}, SyncMode::kOnClose}).ok());
    rebuilt += t.IndexWasRebuiltOnOpen() ? 1 : 0;
    std::map<int, uint32_t> found;
    int in_flight = 0;  // changes the killed writer made but had not reported: at most one
    std::vector<std::pair<std::string, uint32_t>> keys;  // live records' keys
    for (uint32_t r = 1; r <= t.PhysicalCount(); ++r) {
      ASSERT_TRUE(t.Go(r).ok());
      const int id = std::stoi(t.GetText("SUBJECT").value().substr(3));
      ASSERT_EQ(found.count(id), 0u) << "record " << id << " appears twice";
      found[id] = r;
      next_id = std::max(next_id, id + 1);  // an append that finished unreported
      const std::string memo = t.ReadMemo("RTFDOC").value();
      const bool reported = known.count(id) != 0;
      const int version = reported ? known[id].version : 0;
      // The memo is the last reported version, or the one being written at the kill.
      ASSERT_TRUE(memo == MemoText(id, version) || memo == MemoText(id, version + 1))
          << "memo of " << id << " damaged";
      if (known.emplace(id, Known{}).second) ++in_flight;  // an append not yet reported
      if (memo == MemoText(id, version + 1)) {
        known[id].version = version + 1;
        ++in_flight;
      }
      if (t.Deleted() && !known[id].deleted) ++in_flight;
      if (t.Deleted()) {
        known[id].deleted = true;
      } else {
        const Date d = t.GetDate("DATESENT").value();
        char date[16];
        std::snprintf(date, sizeof date, "%04d%02d%02d", d.year, d.month, d.day);
        std::string time = t.GetText("TIMESENT").value();
        keys.emplace_back(date + time, r);
      }
    }
    ASSERT_LE(in_flight, 1);
    for (const auto& [id, k] : known) {
      if (!k.deleted && packed_away.count(id) == 0) {
        ASSERT_EQ(found.count(id), 1u) << "posted record " << id << " lost";
      }
    }
    std::sort(keys.rbegin(), keys.rend());
    std::vector<uint32_t> want;
    for (const auto& [key, r] : keys) want.push_back(r);
    ASSERT_TRUE(t.SetOrder("DATESENT").ok());
    ASSERT_TRUE(t.SetFilter(".not. deleted()").ok());
    ASSERT_EQ(ViewOrder(t), want) << "index does not match the table";
    // Records packed away are gone for good; forget them.
    for (auto it = known.begin(); it != known.end();) {
      it = found.count(it->first) ? std::next(it) : known.erase(it);
    }
  }
  std::printf("%d writers killed, %d stale indexes rebuilt\n", rounds, rebuilt);
}

}  // namespace
}  // namespace veltrane::xbase
