// An audio path without a device: blocks of audio are exchanged with an
// audio server on this machine over TCP, and a delegate renders each block.
//
// The client connects to 127.0.0.1:port (9000 unless set before starting),
// then its audio thread repeats: read one block from the server (256 frames
// of two interleaved 32-bit floats, 2048 bytes, in the machine's byte
// order), hand it to the delegate's render with an output block, and write
// back as many bytes as were read. A block that arrives short has the rest
// of its input zeroed. The thread ends when the server closes the
// connection or a read or write fails, or when stopAudio is called.
//
// Threads: start and stop from one controlling thread; the delegate's
// render runs on the audio thread. stopAudio shuts the socket down, which
// wakes a thread blocked on a read, and joins the thread.
#ifndef VXU_REMOTEAUDIOCLIENT_H
#define VXU_REMOTEAUDIOCLIENT_H

#include <atomic>
#include <memory>
#include <thread>

class RemoteAudioClientDelegate {
 public:
  virtual ~RemoteAudioClientDelegate() = default;
  // frames interleaved stereo frames in input; output receives as many.
  virtual void render(unsigned frames, const float* input, float* output) = 0;
};

class RemoteAudioClient {
 public:
  enum { kBlockFrames = 256, kDefaultPort = 9000 };

  RemoteAudioClient() = default;
  ~RemoteAudioClient();  // stopAudio()
  RemoteAudioClient(const RemoteAudioClient&) = delete;
  RemoteAudioClient& operator=(const RemoteAudioClient&) = delete;

  // Set before starting; the client keeps a reference.
  std::shared_ptr<RemoteAudioClientDelegate> delegate;
  // The server's port; set before starting.
  int port = kDefaultPort;

  // 44100, 256, YES, YES.
  bool startAudioWithDefaultParameters();
  // The block is 256 frames whatever is asked; rate and directions are not
  // used. NO when the socket cannot be made or connected, or when the
  // audio is running already.
  bool startAudio(unsigned sampleRate, unsigned bufferSize, bool useInput, bool useOutput);
  // Stops and joins the thread, closes the socket; YES.
  bool stopAudio();

  int bufferSize() const { return m_bufferSize; }
  // Whether the audio thread is still exchanging blocks.
  bool isExchanging() const { return m_exchanging; }

 private:
  void audioThread();

  int m_dataSocket = -1;
  int m_bufferSize = kBlockFrames;
  std::atomic<bool> m_doStopAudioThread{false};
  std::atomic<bool> m_exchanging{false};
  std::thread m_thread;
};

#endif
