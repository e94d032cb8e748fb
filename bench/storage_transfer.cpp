// One object (200 MB by default) uploaded from memory, uploaded from a file and downloaded
// through VoduzaziClient::storage(), beside curl (the command-line tool) doing the same three
// transfers against the same server: the stand-in backend run as its own process (so the
// client's peak memory is its own) with its upload limit raised above the object. Everything
// (this process, the server, curl) is pinned to one CPU; the rounds alternate client and curl.
// Prints MB/s of each transfer and the client's peak resident memory over what it held before
// the call, then the client-to-curl throughput ratios, the lowest last. (curl's own peak is not
// shown: a child spawned from this process inherits its high-water mark.)
//
//   TMPDIR=/dev/shm build/release/bench/storage_transfer [megabytes=200] [rounds=3]
//   (the object file and the server's objects go to TMPDIR: a RAM disk keeps the disk out of it)
//   (8-core virtual machine, otherwise quiet)
//   # upload from memory         client    46.7 MB/s  peak +    0.5 MiB | curl    47.5 MB/s
//   # upload from a file         client    46.8 MB/s  peak +    0.0 MiB | curl    49.8 MB/s
//   # download                   client   246.1 MB/s  peak +  190.7 MiB | curl   428.7 MB/s
//   # download (curl to TMPDIR)  client   246.1 MB/s  peak +  190.7 MiB | curl   430.6 MB/s
//   # landing the object in fresh memory alone: 536 ms (client download best: 813 ms, ...)
//   # ...
//   # ratio (lowest, to /dev/null):    0.57
// The download lands the whole object in memory, which curl writing to /dev/null never does:
// faulting in that fresh memory costs most of the difference on machines with costly page
// faults (the line above it times that alone), so the download's ratio stays below the
// uploads'. The transport asks for huge pages for such a body, which halves that cost where the
// system grants them.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "voduzazi/client/voduzazi_client.hpp"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kMiB = 1024.0 * 1024.0;

// A child process with its standard output on a pipe.
struct Child {
  pid_t pid = -1;
  FILE* output = nullptr;
};

Child spawn(const std::vector<std::string>& arguments, bool captureOutput) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int pipeEnds[2] = {-1, -1};
  if (captureOutput) {
    if (pipe(pipeEnds) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  }
  Child child;
  const int failed = posix_spawnp(&child.pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed) throw std::runtime_error("cannot start " + arguments[0]);
  if (captureOutput) {
    close(pipeEnds[1]);
    child.output = fdopen(pipeEnds[0], "r");
  }
  return child;
}

// The exit status of a child that ends.
int reap(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

// The stand-in backend as its own process, in memory, with room for the object.
class StandIn {
 public:
  StandIn(std::size_t objectBytes) {
    const std::string limit = std::to_string(objectBytes + (16 << 20));
    child_ = spawn({STAND_IN_SERVER, "--memory", "--port", "0", "--max-upload-bytes", limit}, true);
    char line[4096];
    // It prints "url: ...", "anon key: ..." and "service key: ..." once it serves.
    while (std::fgets(line, sizeof line, child_.output)) {
      std::string text(line);
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      if (text.starts_with("url: ")) url_ = text.substr(5);
      if (text.starts_with("service key: ")) {
        serviceKey_ = text.substr(13);
        return;
      }
    }
    throw std::runtime_error("the stand-in backend did not start");
  }
  ~StandIn() {
    kill(child_.pid, SIGTERM);
    reap(child_.pid);
    std::fclose(child_.output);
  }
  StandIn(const StandIn&) = delete;
  StandIn& operator=(const StandIn&) = delete;

  const std::string& url() const { return url_; }
  const std::string& serviceKey() const { return serviceKey_; }

 private:
  Child child_;
  std::string url_;
  std::string serviceKey_;
};

// This process's resident memory, and its peak since the last reset, in bytes.
double statusBytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with(field))
      return std::strtod(line.c_str() + std::strlen(field), nullptr) * 1024;
  }
  return 0;
}

void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

struct Measure {
  double seconds = 0;
  double peakBytes = 0;  // the client's growth over what it held before
};

// The client's transfer: its wall time and how far its peak rose above the resident size before.
Measure measured(const std::function<void()>& transfer) {
  resetPeak();
  const double before = statusBytes("VmRSS:");
  const auto start = Clock::now();
  transfer();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return {seconds, std::max(0.0, statusBytes("VmHWM:") - before)};
}

Measure curlRun(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), {"curl", "-sS", "--fail", "-o", "/dev/null"});
  const auto start = Clock::now();
  const Child child = spawn(arguments, false);
  const int status = reap(child.pid);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("curl failed");
  return {seconds, 0};
}

// Seconds to land `bytes` in fresh memory in libcurl's 16 KiB pieces, as the client's download
// does (reserved at once, each page faulted in on first write): work curl writing to /dev/null
// does not do.
double landingSeconds(std::size_t bytes) {
  const std::string piece(16 * 1024, 'x');
  const auto start = Clock::now();
  voduzazi::Data landed;
  landed.reserve(bytes);
  while (landed.size() + piece.size() <= bytes) landed.append(piece);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (landed.size() < piece.size()) throw std::logic_error("nothing landed");
  return seconds;
}

struct Row {
  const char* name;
  std::vector<Measure> client;
  std::vector<Measure> curl;
};

double bestRate(const std::vector<Measure>& runs, double bytes) {
  double best = 0;
  for (const Measure& run : runs) best = std::max(best, bytes / run.seconds / 1e6);
  return best;
}

double milliseconds(const std::vector<Measure>& runs, std::size_t bytes) {
  return static_cast<double>(bytes) / bestRate(runs, static_cast<double>(bytes)) / 1e3;
}

double highestPeak(const std::vector<Measure>& runs) {
  double peak = 0;
  for (const Measure& run : runs) peak = std::max(peak, run.peakBytes);
  return peak;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const std::size_t bytes = megabytes * 1000 * 1000;
  const int cpu = bench::pinToOneCpu();  // before any thread or child: they inherit it

  voduzazi::Data object(bytes, '\0');
  std::mt19937_64 random{7};
  for (std::size_t i = 0; i + 8 <= bytes; i += 8) {
    const std::uint64_t word = random();
    std::memcpy(object.data() + i, &word, 8);
  }
  const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                     ("storage-transfer-" + std::to_string(getpid()) + ".bin");
  const std::filesystem::path landed = file.string() + ".landed";
  std::ofstream(file, std::ios::binary).write(object.data(), static_cast<std::streamsize>(bytes));

  int result = 0;
  try {
    const StandIn server(bytes);
    voduzazi::VoduzaziClient client(server.url(), server.serviceKey());
    client.storage().createBucket("bench", {});
    const voduzazi::storage::StorageFileApi files = client.storage().from("bench");
    voduzazi::storage::FileOptions options;
    options.upsert = true;
    options.contentType = "application/octet-stream";
    const boost::urls::url fileURL("file://" + file.string());

    const std::string objects = server.url() + "/storage/v1/object/bench/";
    const std::vector<std::string> authorised{"-H", "Authorization: Bearer " + server.serviceKey(),
                                              "-H", "apikey: " + server.serviceKey()};
    const auto curlUpload = [&](const std::string& name) {
      std::vector<std::string> arguments = authorised;
      for (const char* part : {"-H", "x-upsert: true", "-F", "cacheControl=3600", "-F"}) {
        arguments.emplace_back(part);
      }
      // curl cannot name a part "": its file part is named "file", which the server takes alike.
      arguments.push_back("file=@" + file.string() + ";filename=" + name +
                          ";type=application/octet-stream");
      arguments.push_back(objects + name);
      return curlRun(arguments);
    };

    std::vector<Row> rows{{"upload from memory", {}, {}},
                          {"upload from a file", {}, {}},
                          {"download", {}, {}},
                          {"download (curl to TMPDIR)", {}, {}}};
    for (int round = 0; round < rounds; ++round) {
      rows[0].client.push_back(measured([&] { files.upload("memory.bin", object, options); }));
      rows[0].curl.push_back(curlUpload("memory.bin"));
      rows[1].client.push_back(measured([&] { files.upload("file.bin", fileURL, options); }));
      rows[1].curl.push_back(curlUpload("file.bin"));
      voduzazi::Data received;  // freed after the clock stops: the transfer ends in its hands
      rows[2].client.push_back(measured([&] { received = files.download("memory.bin"); }));
      if (received.size() != bytes) throw std::runtime_error("short body");
      voduzazi::Data().swap(received);
      rows[3].client.push_back(rows[2].client.back());
      std::vector<std::string> download = authorised;
      download.push_back(objects + "memory.bin");
      rows[2].curl.push_back(curlRun(download));
      // The same download landing in memory (a file in TMPDIR, a RAM disk at best), as the
      // client's does: where the rest of the difference goes.
      download.insert(download.begin(), {"-o", landed.string()});
      rows[3].curl.push_back(curlRun(download));
      std::filesystem::remove(landed);
    }

    std::printf("pinned to CPU %d; object %zu MB; best of %d rounds\n", cpu, megabytes, rounds);
    std::printf("(curl sends both uploads from the file)\n");
    double lowest = 1e9;
    std::vector<std::pair<const char*, double>> ratios;
    for (const Row& row : rows) {
      const double client = bestRate(row.client, static_cast<double>(bytes));
      const double curl = bestRate(row.curl, static_cast<double>(bytes));
      std::printf("%-26s client %7.1f MB/s  peak +%7.1f MiB | curl %7.1f MB/s\n", row.name, client,
                  highestPeak(row.client) / kMiB, curl);
      ratios.emplace_back(row.name, client / curl);
      if (&row != &rows.back()) lowest = std::min(lowest, client / curl);  // the goals' rows
    }
    double landing = 1e9;
    for (int round = 0; round < rounds; ++round) landing = std::min(landing, landingSeconds(bytes));
    std::printf(
        "landing the object in fresh memory alone: %.0f ms (client download best: %.0f ms, "
        "curl to /dev/null best: %.0f ms)\n",
        landing * 1e3, milliseconds(rows[2].client, bytes), milliseconds(rows[2].curl, bytes));
    for (const auto& [name, ratio] : ratios) std::printf("ratio %-26s %.2f\n", name, ratio);
    std::printf("ratio (lowest, to /dev/null):    %.2f\n", lowest);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "storage_transfer: %s\n", error.what());
    result = 1;
  }
  std::filesystem::remove(file);
  return result;
}
