// The program as a process: arguments, files, streams, messages and exit
// statuses, byte for byte. The program and an optional launcher (such as an
// emulator) come from the build, or from TOVRIN_PROGRAM / TOVRIN_LAUNCHER.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "model.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::string;

const Bytes kUsage = "Usage: tovrin infile [outfile]\r\r\n";
const Bytes kOpenRead = "Error opening file for read\r\r\n";
const Bytes kOpenWrite = "Error opening file for write.\r\r\n";
const Bytes kReadError = "Error reading file\r\r\n";
const Bytes kWriteError = "Error writing file.\r\r\n";
constexpr int kFailed = 255;

std::string setting(const char* env, const char* built) {
  const char* v = std::getenv(env);
  return v != nullptr && *v != '\0' ? v : built;
}

const std::string program = setting("TOVRIN_PROGRAM", TOVRIN_PROGRAM);
const std::string launcher = setting("TOVRIN_LAUNCHER", TOVRIN_LAUNCHER);

bool windows_build() {
  return program.size() > 4 && program.compare(program.size() - 4, 4, ".exe") == 0;
}

#define LINUX_ONLY(why) \
  if (windows_build()) GTEST_SKIP() << "needs " why ", which the Windows build does not see"

// Where the child's standard output goes.
enum class Out { kFile, kClosed, kFull, kBrokenPipe, kNull };

struct Outcome {
  int status = -1;  // exit status, or 128 + signal number
  Bytes out, err;
};

Bytes slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

class Tovrin : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tovrin-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  void put(const std::string& name, const Bytes& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }
  Bytes get(const std::string& name) { return slurp(dir_ / name); }
  bool exists(const std::string& name) { return fs::exists(fs::symlink_status(dir_ / name)); }
  fs::path path(const std::string& name) { return dir_ / name; }

  // Starts the program in the test's folder with `out_fd` as its standard
  // output (-1: closed) and captured standard error.
  pid_t start(const std::vector<std::string>& args, int out_fd) {
    std::vector<std::string> argv;
    std::istringstream words(launcher);
    for (std::string w; words >> w;) argv.push_back(w);
    argv.push_back(program);
    argv.insert(argv.end(), args.begin(), args.end());
    const int err = open((dir_ / ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const pid_t pid = fork();
    if (pid == 0) {
      std::vector<char*> cargv;
      for (std::string& a : argv) cargv.push_back(a.data());
      cargv.push_back(nullptr);
      const int in = open("/dev/null", O_RDONLY);
      dup2(in, 0);
      if (out_fd >= 0) dup2(out_fd, 1); else close(1);
      dup2(err, 2);
      signal(SIGPIPE, SIG_DFL);
      if (chdir(dir_.c_str()) == 0) execvp(cargv[0], cargv.data());
      _exit(127);
    }
    close(err);
    return pid;
  }

  Outcome finish(pid_t pid) {
    Outcome r;
    int st = 0;
    waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    r.err = get(".err");
    fs::remove(dir_ / ".err");
    return r;
  }

  Outcome run(const std::vector<std::string>& args, Out where = Out::kFile) {
    int fd = -1;
    int pipe_fds[2] = {-1, -1};
    switch (where) {
      case Out::kFile: fd = open((dir_ / ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600); break;
      case Out::kClosed: break;
      case Out::kFull: fd = open("/dev/full", O_WRONLY); break;
      case Out::kNull: fd = open("/dev/null", O_WRONLY); break;
      case Out::kBrokenPipe:
        if (pipe(pipe_fds) != 0) ADD_FAILURE() << "pipe";
        close(pipe_fds[0]);
        fd = pipe_fds[1];
        break;
    }
    const pid_t pid = start(args, fd);
    if (fd >= 0) close(fd);
    Outcome r = finish(pid);
    if (where == Out::kFile) {
      r.out = get(".out");
      fs::remove(dir_ / ".out");
    }
    return r;
  }

  fs::path dir_;
};

TEST_F(Tovrin, WrongArgumentCountPrintsUsage) {
  put("b", "keep me");
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"a", "b", "c"}, {"b", "b", "b", "b"}}) {
    const Outcome r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kUsage);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(get("b"), "keep me");
    EXPECT_FALSE(exists("c"));
  }
}

TEST_F(Tovrin, UnopenableInfileLeavesOutfileAlone) {
  fs::create_directory(path("dir"));
  put("old", "previous");
  for (const std::string in : {"missing", "dir", ""}) {
    for (const std::string out : {"new", "old"}) {
      const Outcome r = run({in, out});
      EXPECT_EQ(r.status, kFailed) << in;
      EXPECT_EQ(r.err, kOpenRead) << in;
      EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(run({in}).err, kOpenRead) << in;
  }
  EXPECT_FALSE(exists("new"));
  EXPECT_EQ(get("old"), "previous");
}

TEST_F(Tovrin, UnopenableOutfile) {
  fs::create_directory(path("dir"));
  put("in", "data\n");
  for (const std::string out : {"dir", "nowhere/out", ""}) {
    const Outcome r = run({"in", out});
    EXPECT_EQ(r.status, kFailed) << out;
    EXPECT_EQ(r.err, kOpenWrite) << out;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(get("in"), "data\n");
}

TEST_F(Tovrin, FiltersIntoOutfileAndTextStream) {
  const struct {
    Bytes in, file, text;
  } cases[] = {
      {Bytes("\xff\xfe" "A\0\r\0\n\0", 8), "A\r\n", "A\r\r\n"},
      {"\r\n", "\r\n", "\r\r\n"},
      {"\n", "\n", "\r\n"},
      {"", "", ""},
      {Bytes("\0\x80\xff", 3), "", ""},
      {"\x1a" "after", "\x1a" "after", "\x1a" "after"},
  };
  for (const auto& c : cases) {
    put("in", c.in);
    put("out", "much longer previous content that must go");
    Outcome r = run({"in", "out"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(get("out"), c.file) << testing::PrintToString(c.in);
    r = run({"in"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, c.text) << testing::PrintToString(c.in);
  }
}

TEST_F(Tovrin, LargeInputMatchesModel) {
  std::mt19937 rng(3);
  Bytes in = model::bytes(rng, 3 * 1024 * 1024 + 17);
  in[8191] = in[8192] = '\r';
  put("in", in);
  const Bytes kept = model::keep(in);
  ASSERT_EQ(run({"in", "out"}).status, 0);
  EXPECT_TRUE(get("out") == kept);
  const Outcome r = run({"in"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.out == model::text(kept));
}

TEST_F(Tovrin, HyphenIsAnOrdinaryName) {
  put("-", Bytes("A\0B\n\0", 5));
  Outcome r = run({"-"});
  EXPECT_EQ(r.out, "AB\r\n");
  r = run({"-", "copy"});
  EXPECT_EQ(get("copy"), "AB\n");
  put("in", "xyz");
  r = run({"in", "-"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(get("-"), "xyz");
}

TEST_F(Tovrin, RefusesToWriteOverItsInput) {
  const Bytes content = Bytes("original\r\r\0\xff", 12);
  put("in", content);
  fs::create_hard_link(path("in"), path("hard"));
  fs::create_symlink("in", path("soft"));
  fs::create_directory(path("sub"));
  for (const std::string out : {"in", "./in", "sub/../in", "hard", "soft"}) {
    const Outcome r = run({"in", out});
    EXPECT_EQ(r.status, kFailed) << out;
    EXPECT_EQ(r.err, kOpenWrite) << out;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(get("in"), content) << out;
  }
  EXPECT_EQ(run({"soft", "in"}).err, kOpenWrite);
  EXPECT_EQ(get("in"), content);
}

TEST_F(Tovrin, WriteFailuresAreReported) {
  LINUX_ONLY("/dev/full and a closed descriptor");
  put("in", "data\n");
  put("empty", "");
  const struct {
    std::vector<std::string> args;
    Out where;
    int status;
    Bytes err;
  } cases[] = {
      {{"in"}, Out::kFull, kFailed, kWriteError},
      {{"in", "/dev/full"}, Out::kFile, kFailed, kWriteError},
      {{"in"}, Out::kClosed, kFailed, kWriteError},
      {{"empty"}, Out::kFull, 0, ""},
      {{"empty"}, Out::kClosed, 0, ""},
      {{"in", "out"}, Out::kClosed, 0, ""},
      {{}, Out::kClosed, 0, ""},
  };
  for (const auto& c : cases) {
    const Outcome r = run(c.args, c.where);
    EXPECT_EQ(r.status, c.status) << testing::PrintToString(c.args);
    EXPECT_EQ(r.err, c.err) << testing::PrintToString(c.args);
  }
  EXPECT_EQ(get("out"), "data\n");
}

TEST_F(Tovrin, ReadFailureIsReported) {
  LINUX_ONLY("/proc/self/mem");
  // Reading a process's own memory from offset 0 fails with EIO.
  Outcome r = run({"/proc/self/mem"});
  EXPECT_EQ(r.status, kFailed);
  EXPECT_EQ(r.err, kReadError);
  EXPECT_EQ(r.out, "");
  r = run({"/proc/self/mem", "out"});
  EXPECT_EQ(r.status, kFailed);
  EXPECT_EQ(r.err, kReadError);
  EXPECT_EQ(get("out"), "");
}

TEST_F(Tovrin, ClosedPipeEndsByTheHostsDefault) {
  LINUX_ONLY("SIGPIPE");
  put("in", Bytes(1 << 20, 'x'));
  const Outcome r = run({"in"}, Out::kBrokenPipe);
  EXPECT_EQ(r.status, 128 + SIGPIPE);
  EXPECT_EQ(r.err, "");
}

TEST_F(Tovrin, ConsoleSeesEachBlockAtOnce) {
  LINUX_ONLY("a pseudo-terminal");
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
  int master = -1, slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  const pid_t pid = start({"fifo"}, slave);
  close(slave);
  const int w = open(path("fifo").c_str(), O_WRONLY);
  ASSERT_GE(w, 0);
  // One full read block; its kept bytes must arrive while the input is
  // still open.
  Bytes block(8192, '\0');
  block.replace(0, 4, Bytes("ab\0c", 4));
  ASSERT_EQ(write(w, block.data(), block.size()), 8192);
  Bytes seen;
  char buf[16];
  while (seen.size() < 3) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 10000) != 1) break;
    const ssize_t n = read(master, buf, sizeof buf);
    if (n <= 0) break;
    seen.append(buf, static_cast<std::size_t>(n));
  }
  EXPECT_EQ(seen, "abc");
  close(w);
  EXPECT_EQ(finish(pid).status, 0);
  close(master);
}

}  // namespace
