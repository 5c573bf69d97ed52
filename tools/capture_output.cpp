// Output files and the ffmpeg child of the capture program (see
// capture_output.h).
//
// Main thread. Byte counts; frames are width * height * 3 bytes of RGB.
#include "tools/capture_output.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace {

std::string reason() {
    return std::strerror(errno);
}

bool fail(std::string* error, const std::string& message) {
    if (error)
        *error = message;
    return false;
}

bool isExecutableFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

bool makeFolders(const std::string& path) {
    std::string partial;
    size_t at = 0;
    while (at <= path.size()) {
        const size_t slash = path.find('/', at);
        const size_t end = slash == std::string::npos ? path.size() : slash;
        partial = path.substr(0, end);
        if (!partial.empty() && mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            break;
        at = slash + 1;
    }
    return isFolder(path);
}

// Moves a descriptor above the standard ones and descriptor 3, close-on-exec,
// so that the child's dup2 onto 0 and 3 never meets itself.
int moveHigh(int fd) {
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 10);
    close(fd);
    return moved;
}

void closeFd(int* fd) {
    if (*fd >= 0) {
        close(*fd);
        *fd = -1;
    }
}

std::string describeStatus(int status) {
    if (WIFEXITED(status))
        return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return std::string("killed by signal ") + std::to_string(WTERMSIG(status));
    return "stopped abnormally";
}

// Waits for the child; its status in *status. False when it cannot be reaped.
bool reap(VideoEncoder* encoder, int* status) {
    if (encoder->pid <= 0)
        return false;
    pid_t got = 0;
    do {
        got = waitpid(encoder->pid, status, 0);
    } while (got < 0 && errno == EINTR);
    encoder->pid = -1;
    return got > 0;
}

// Writes video bytes and, alongside, the queued sound, until the video bytes
// are all sent (or, with finishing set, until the sound is too).
bool pump(VideoEncoder* encoder, const unsigned char* video, size_t size, bool finishing,
          std::string* error) {
    size_t sent = 0;
    for (;;) {
        const bool videoLeft = sent < size;
        const bool audioLeft = encoder->audioFd >= 0 && encoder->audioSent < encoder->audio.size();
        if (!videoLeft && !(finishing && audioLeft))
            return true;
        pollfd fds[2];
        int count = 0;
        int videoSlot = -1;
        int audioSlot = -1;
        if (videoLeft) {
            fds[count] = {encoder->videoFd, POLLOUT, 0};
            videoSlot = count++;
        }
        if (audioLeft) {
            fds[count] = {encoder->audioFd, POLLOUT, 0};
            audioSlot = count++;
        }
        if (poll(fds, static_cast<nfds_t>(count), -1) < 0) {
            if (errno == EINTR)
                continue;
            return fail(error, "waiting for ffmpeg: " + reason());
        }
        for (int slot : {videoSlot, audioSlot}) {
            if (slot < 0 || !(fds[slot].revents & (POLLOUT | POLLERR | POLLHUP)))
                continue;
            const bool isVideo = slot == videoSlot;
            const unsigned char* data =
                isVideo ? video + sent : encoder->audio.data() + encoder->audioSent;
            const size_t left = isVideo ? size - sent : encoder->audio.size() - encoder->audioSent;
            const ssize_t n = write(fds[slot].fd, data, left);
            if (n < 0) {
                if (errno == EAGAIN || errno == EINTR)
                    continue;
                return fail(error, errno == EPIPE ? "ffmpeg stopped reading its input"
                                                  : "writing to ffmpeg: " + reason());
            }
            if (isVideo) {
                sent += static_cast<size_t>(n);
            } else {
                encoder->audioSent += static_cast<size_t>(n);
                // The end of the sound must be seen at once: while ffmpeg
                // probes its inputs it reads the sound until it has seconds
                // of it or the end, and reads no video meanwhile.
                if (encoder->audioSent == encoder->audio.size())
                    closeFd(&encoder->audioFd);
            }
        }
    }
}

} // namespace

std::string findProgram(const char* name) {
    const char* path = std::getenv("PATH");
    if (!path)
        return "";
    const std::string list = path;
    size_t at = 0;
    while (at <= list.size()) {
        size_t colon = list.find(':', at);
        if (colon == std::string::npos)
            colon = list.size();
        std::string folder = list.substr(at, colon - at);
        if (folder.empty())
            folder = ".";
        const std::string candidate = folder + "/" + name;
        if (isExecutableFile(candidate))
            return candidate;
        at = colon + 1;
    }
    return "";
}

bool isFolder(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string absolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/')
        return path;
    std::vector<char> buffer(PATH_MAX);
    if (!getcwd(buffer.data(), buffer.size()))
        return path;
    return std::string(buffer.data()) + "/" + path;
}

bool prepareOutputFile(const std::string& path, std::string* error) {
    if (isFolder(path))
        return fail(error, "cannot write " + path + ": it is a folder");
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return fail(error, "cannot write " + path + ": " + reason());
    close(fd);
    return true;
}

bool prepareOutputFolder(const std::string& path, std::string* error) {
    if (!makeFolders(path))
        return fail(error, "cannot create the folder " + path + ": " + reason());
    // Whether files can be made there is only known by making one.
    const std::string probe = path + "/.tuhkala-capture-probe";
    const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return fail(error, "cannot write into " + path + ": " + reason());
    close(fd);
    unlink(probe.c_str());
    return true;
}

bool writeWholeFile(const std::string& path, const std::vector<unsigned char>& bytes,
                    std::string* error) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return fail(error, "cannot write " + path + ": " + reason());
    const bool wrote = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    int failure = wrote ? 0 : errno;
    // A full disk may only show when the buffered rest is flushed.
    if (std::fclose(file) != 0 && wrote)
        failure = errno;
    if (!wrote || failure != 0)
        return fail(error, "cannot write " + path + ": " + std::strerror(failure ? failure : EIO));
    return true;
}

std::vector<std::string> ffmpegArguments(const VideoSettings& s) {
    std::vector<std::string> args = {
        "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
        // Video: raw frames on standard input, in the order they are made.
        "-f", "rawvideo", "-pixel_format", "rgb24", "-video_size",
        std::to_string(s.width) + "x" + std::to_string(s.height), "-framerate",
        std::to_string(s.fps), "-i", "pipe:0",
        // Sound: raw PCM on descriptor 3.
        "-f", "s16le", "-ar", std::to_string(s.audioRate), "-ac", "1", "-i", "pipe:3", "-map",
        "0:v:0", "-map", "1:a:0", "-c:v", s.videoCodec};
    if (s.videoCodec == "libx264")
        args.insert(args.end(), {"-preset", "medium", "-crf", "18"});
    // The pixel format every player can show.
    args.insert(args.end(), {"-pix_fmt", "yuv420p", "-c:a", s.audioCodec});
    // No random container ids or dates: the same capture gives the same file.
    args.insert(args.end(), {"-fflags", "+bitexact", "-map_metadata", "-1"});
    if (s.audioCodec == "aac")
        args.insert(args.end(), {"-b:a", "160k"});
    const size_t n = s.outputPath.size();
    if (n >= 4 && (s.outputPath.compare(n - 4, 4, ".mp4") == 0 ||
                   s.outputPath.compare(n - 4, 4, ".MP4") == 0))
        args.insert(args.end(), {"-movflags", "+faststart"});
    args.push_back(s.outputPath);
    return args;
}

bool startVideoEncoder(VideoEncoder* encoder, const VideoSettings& settings,
                       std::vector<unsigned char> audio, std::string* error) {
    // A closed pipe must come back as EPIPE, not end this process.
    signal(SIGPIPE, SIG_IGN);
    int videoPipe[2];
    int audioPipe[2];
    if (pipe(videoPipe) != 0)
        return fail(error, "cannot make a pipe for ffmpeg: " + reason());
    if (pipe(audioPipe) != 0) {
        close(videoPipe[0]);
        close(videoPipe[1]);
        return fail(error, "cannot make a pipe for ffmpeg: " + reason());
    }
    for (int* fd : {&videoPipe[0], &videoPipe[1], &audioPipe[0], &audioPipe[1]})
        *fd = moveHigh(*fd);
    // Fewer, larger writes per frame; the system may refuse, which only costs speed.
    fcntl(videoPipe[1], F_SETPIPE_SZ, 1 << 20);

    std::vector<std::string> args = ffmpegArguments(settings);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(settings.ffmpeg.c_str()));
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, videoPipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, audioPipe[0], 3);
    pid_t pid = -1;
    const int spawned =
        posix_spawn(&pid, settings.ffmpeg.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(videoPipe[0]);
    close(audioPipe[0]);
    if (spawned != 0) {
        close(videoPipe[1]);
        close(audioPipe[1]);
        return fail(error, "cannot start " + settings.ffmpeg + ": " + std::strerror(spawned));
    }
    fcntl(videoPipe[1], F_SETFL, O_NONBLOCK);
    fcntl(audioPipe[1], F_SETFL, O_NONBLOCK);
    encoder->pid = pid;
    encoder->videoFd = videoPipe[1];
    encoder->audioFd = audioPipe[1];
    encoder->audio = std::move(audio);
    encoder->audioSent = 0;
    return true;
}

bool sendVideoFrame(VideoEncoder* encoder, const unsigned char* rgb, size_t size,
                    std::string* error) {
    return pump(encoder, rgb, size, false, error);
}

bool finishVideoEncoder(VideoEncoder* encoder, std::string* error) {
    closeFd(&encoder->videoFd);
    std::string pumpError;
    const bool pumped = pump(encoder, nullptr, 0, true, &pumpError);
    closeFd(&encoder->audioFd);
    int status = 0;
    if (!reap(encoder, &status))
        return fail(error, "lost track of ffmpeg");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return fail(error, "ffmpeg failed (" + describeStatus(status) + ")");
    if (!pumped)
        return fail(error, pumpError);
    return true;
}

void abandonVideoEncoder(VideoEncoder* encoder) {
    closeFd(&encoder->videoFd);
    closeFd(&encoder->audioFd);
    int status = 0;
    reap(encoder, &status);
}
