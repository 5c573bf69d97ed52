// Where the capture program's frames and sound go: files written directly
// (PNG pictures, WAV sound) and the ffmpeg program, fed raw RGB frames on its
// standard input and 16-bit PCM sound on a second pipe (its descriptor 3).
//
// Main thread; the ffmpeg child is a separate process. Pictures are tightly
// packed RGB, top row first; sound is 16-bit little-endian mono PCM.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

// True when path names an existing folder (links followed).
bool isFolder(const std::string& path);
// The full path of an executable found on PATH, or "" when there is none.
std::string findProgram(const char* name);
// path made absolute against the working directory (unchanged when absolute).
std::string absolutePath(const std::string& path);

// Creates the file (empty) so that an unwritable place is found before any
// rendering. False with a reason in *error.
bool prepareOutputFile(const std::string& path, std::string* error);
// Creates the folder (and missing parents) and checks that files can be made
// in it. False with a reason in *error.
bool prepareOutputFolder(const std::string& path, std::string* error);
// Writes bytes to path, replacing it. False with a reason in *error.
bool writeWholeFile(const std::string& path, const std::vector<unsigned char>& bytes,
                    std::string* error);

struct VideoSettings {
    std::string ffmpeg; // path of the program
    std::string outputPath;
    int width = 0;
    int height = 0;
    int fps = 0;
    int audioRate = 0;
    std::string videoCodec;
    std::string audioCodec;
};

// The ffmpeg command line for these settings (without the program name).
std::vector<std::string> ffmpegArguments(const VideoSettings& settings);

// A running ffmpeg. Both pipes are written without blocking, whichever one
// ffmpeg is ready to take, so that neither input can stall the other: ffmpeg
// interleaves its two inputs by time and may wait on either one.
struct VideoEncoder {
    pid_t pid = -1;
    int videoFd = -1;
    int audioFd = -1;
    // The whole range's sound, sent as ffmpeg takes it.
    std::vector<unsigned char> audio;
    size_t audioSent = 0;
};

// Starts ffmpeg with audio (PCM bytes of the whole output) queued for it.
bool startVideoEncoder(VideoEncoder* encoder, const VideoSettings& settings,
                       std::vector<unsigned char> audio, std::string* error);
// Sends one frame (width * height * 3 bytes). False when ffmpeg stopped.
bool sendVideoFrame(VideoEncoder* encoder, const unsigned char* rgb, size_t size,
                    std::string* error);
// Ends the video, sends what is left of the sound and waits for ffmpeg.
// False unless ffmpeg took everything and exited with status 0.
bool finishVideoEncoder(VideoEncoder* encoder, std::string* error);
// Closes the pipes and waits for ffmpeg after a failure elsewhere.
void abandonVideoEncoder(VideoEncoder* encoder);
