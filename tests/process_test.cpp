// The kavrel executable run as a user runs it: its exit status, what it
// writes to standard error, and how it behaves when its output cannot be
// written or when standard error is a terminal.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/run_capture.h"

namespace {

// A file holding `text`, removed with the object.
class TempFile {
 public:
  explicit TempFile(const std::string& text = "") {
    char name[] = "/tmp/kavrel_process_XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) std::abort();
    path_ = name;
    if (!text.empty() && write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
      std::abort();
    }
    close(fd);
  }
  ~TempFile() { unlink(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }
  std::string text() const {
    std::string content;
    FILE* file = std::fopen(path_.c_str(), "r");
    if (file == nullptr) return content;
    int c;
    while ((c = std::fgetc(file)) != EOF) content += static_cast<char>(c);
    std::fclose(file);
    return content;
  }

 private:
  std::string path_;
};

int open_or_die(const std::string& path, int flags) {
  const int fd = open(path.c_str(), flags | O_CLOEXEC, 0600);
  if (fd < 0) std::abort();
  return fd;
}

// Starts kavrel with the given descriptors as its standard streams. Every
// other descriptor of this process is close-on-exec.
pid_t start_kavrel(int in, int out, int err) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    execl(KAVREL_BINARY, "kavrel", static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

// Exit status, or -1 when kavrel did not exit normally.
int wait_for(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Finished {
  int status;
  std::string output;
  std::string errors;
};

Finished run_to_files(const std::string& input) {
  TempFile in(input);
  TempFile out;
  TempFile err;
  const int in_fd = open_or_die(in.path(), O_RDONLY);
  const int out_fd = open_or_die(out.path(), O_WRONLY | O_TRUNC);
  const int err_fd = open_or_die(err.path(), O_WRONLY | O_TRUNC);
  const pid_t pid = start_kavrel(in_fd, out_fd, err_fd);
  close(in_fd);
  close(out_fd);
  close(err_fd);
  const int status = wait_for(pid);
  return {status, out.text(), err.text()};
}

// The 4x4 resistor grid with all 32 parameters: about a gigabyte of output
// and many seconds of work.
std::string grid_netlist(int side) {
  std::string text;
  int name = 0;
  auto node = [side](int row, int column) { return row * side + column + 1; };
  for (int row = 0; row < side; ++row) {
    for (int column = 0; column < side; ++column) {
      if (column + 1 < side) {
        text += "r" + std::to_string(++name) + " " + std::to_string(node(row, column)) + " " +
                std::to_string(node(row, column + 1)) + "\n";
      }
      if (row + 1 < side) {
        text += "r" + std::to_string(++name) + " " + std::to_string(node(row, column)) + " " +
                std::to_string(node(row + 1, column)) + "\n";
      }
    }
  }
  const std::string corner = std::to_string(node(side - 1, 0));
  text += "f 1 " + corner + " " + std::to_string(node(side - 1, side - 1)) + " " + corner + "\n";
  return text;
}

const char kWriteFailure[] = "kavrel: output could not be written: ";

TEST(Process, NormalRunExitsZeroAndPrintsTheFunction) {
  const Finished run = run_to_files("C1 2 0; R1 1 2; R2 2 0; f 1 0 2 0; p g21 e\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.errors, "");
  // A symbol of power 1 is followed by three blanks, where "^e" would stand.
  const std::string expected =
      "{program file name kavrel}\n"
      "\ninput data:\n"
      "C1 2 0; R1 1 2; R2 2 0; f 1 0 2 0; p g21 e\n\n"
      " Function:\n"
      " g( 2, 0; 1, 0) = v( 2, 0)/v( 1, 0) for i( 2, 0)=0\n"
      "\n Numerator:\n\n"
      " + s^0  (\n"
      "         1 R2   \n"
      "        )\n"
      "\n Denominator:\n\n"
      " + s^0  (\n"
      "         1 R1   \n"
      "         1 R2   \n"
      "        )\n"
      " + s^1  (\n"
      "         1 C1    R1    R2   \n"
      "        )\n"
      "\n End:\n\n"
      "\ninput data:\n\n"
      "{elapsed time: #/1000 sec.}\n";
  EXPECT_EQ(kavrel_test::normalize_elapsed(run.output), expected);
}

TEST(Process, FullDeviceExitsOneWithOneLine) {
  TempFile in("r1 1 2 c1 2 0 f 1 0 2 0 e\n");
  TempFile err;
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (full < 0) GTEST_SKIP() << "no /dev/full";
  const int in_fd = open_or_die(in.path(), O_RDONLY);
  const int err_fd = open_or_die(err.path(), O_WRONLY | O_TRUNC);
  const pid_t pid = start_kavrel(in_fd, full, err_fd);
  close(in_fd);
  close(full);
  close(err_fd);
  EXPECT_EQ(wait_for(pid), 1);
  EXPECT_EQ(err.text(), std::string(kWriteFailure) + "No space left on device\n");
}

// The reader of the output goes away after the first bytes, long before the
// run would end: kavrel stops soon after its next output, with one line. With
// t 256 every accepted tree prints a line, so output goes on all the time.
TEST(Process, ClosedPipeEndsTheRunPromptly) {
  TempFile in(grid_netlist(4) + "t 256 e\n");
  TempFile err;
  int pipe_ends[2];
  ASSERT_EQ(pipe2(pipe_ends, O_CLOEXEC), 0);
  const int in_fd = open_or_die(in.path(), O_RDONLY);
  const int err_fd = open_or_die(err.path(), O_WRONLY | O_TRUNC);
  const pid_t pid = start_kavrel(in_fd, pipe_ends[1], err_fd);
  close(in_fd);
  close(err_fd);
  close(pipe_ends[1]);
  char buffer[64];
  std::size_t received = 0;
  while (received < sizeof buffer) {
    const ssize_t n = read(pipe_ends[0], buffer + received, sizeof buffer - received);
    if (n <= 0) break;
    received += static_cast<std::size_t>(n);
  }
  EXPECT_EQ(std::string(buffer, 27), "{program file name kavrel}\n");
  const auto closed = std::chrono::steady_clock::now();
  close(pipe_ends[0]);
  EXPECT_EQ(wait_for(pid), 1);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - closed).count();
  // A generous bound: the whole run takes many times as long.
  EXPECT_LT(seconds, 5.0);
  EXPECT_EQ(err.text(), std::string(kWriteFailure) + "Broken pipe\n");
}

// A function whose enumeration alone takes a minute, so that the progress
// delay passes inside it however fast the machine: a 5x5 resistor grid with a
// diagonal, its terms not stored.
std::string long_enumeration() {
  return "r1 1 2 r2 1 6 r3 2 3 r4 2 7 r5 3 4 r6 3 8 r7 4 5 r8 4 9 r9 5 10 r10 6 7 r11 6 11 "
         "r12 7 8 r13 7 12 r14 8 9 r15 8 13 r16 9 10 r17 9 14 r18 10 15 r19 11 12 r20 11 16 "
         "r21 12 13 r22 12 17 r23 13 14 r24 13 18 r25 14 15 r26 14 19 r27 15 20 r28 16 17 "
         "r29 16 21 r30 17 18 r31 17 22 r32 18 19 r33 18 23 r34 19 20 r35 19 24 r36 20 25 "
         "r37 21 22 r38 22 23 r39 23 24 r40 24 25 r41 8 14 f 1 21 25 21 p y11 t 512 e\n";
}

void stop(pid_t pid) {
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

TEST(Process, ProgressIsShownWhenStandardErrorIsATerminal) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) GTEST_SKIP() << "no pseudo-terminals";
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const char* slave_name = ptsname(master);
  ASSERT_NE(slave_name, nullptr);
  const int slave = open_or_die(slave_name, O_RDWR | O_NOCTTY);
  TempFile in(long_enumeration());
  const int in_fd = open_or_die(in.path(), O_RDONLY);
  const int null_fd = open_or_die("/dev/null", O_WRONLY);
  const pid_t pid = start_kavrel(in_fd, null_fd, slave);
  close(in_fd);
  close(null_fd);
  close(slave);

  // Waits for a whole progress line: after its parameter, its count and its
  // elapsed time comes its estimate of what remains.
  std::string shown;
  const auto start = std::chrono::steady_clock::now();
  while (shown.find(" left") == std::string::npos &&
         std::chrono::steady_clock::now() - start < std::chrono::seconds(60)) {
    char buffer[256];
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    shown.append(buffer, static_cast<std::size_t>(n));
  }
  stop(pid);
  close(master);
  EXPECT_NE(shown.find("\rkavrel: y11 ("), std::string::npos) << shown;
  EXPECT_NE(shown.find(" raw i-trees, "), std::string::npos) << shown;
  EXPECT_NE(shown.find(" left"), std::string::npos) << shown;
}

TEST(Process, NoProgressWhenStandardErrorIsAFile) {
  TempFile in(long_enumeration());
  TempFile err;
  const int in_fd = open_or_die(in.path(), O_RDONLY);
  const int null_fd = open_or_die("/dev/null", O_WRONLY);
  const int err_fd = open_or_die(err.path(), O_WRONLY | O_TRUNC);
  const pid_t pid = start_kavrel(in_fd, null_fd, err_fd);
  close(in_fd);
  close(null_fd);
  close(err_fd);
  // Well past the second after which a terminal shows progress.
  usleep(2500 * 1000);
  stop(pid);
  EXPECT_EQ(err.text(), "");
}

}  // namespace
