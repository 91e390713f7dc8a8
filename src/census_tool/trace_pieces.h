// The trace pieces of a split moduli decision: each refuted subproblem's
// part of the refutation trace, in its own file in a folder beside the proof
// (PROOF.pieces), so that no trace, which can run to gigabytes, is held in
// memory. The folder carries a mark, so that it is only ever emptied or
// removed when this program made it: it holds the mark and files named by a
// subproblem's number, or that number and ".partial" while it is written.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/result.h"
#include "cli/output_paths.h"
#include "engine/refutation_trace.h"

namespace tilvane {

// The folder of trace pieces for a proof file.
std::string trace_pieces_folder(const OutputFile& proof);

// The piece of subproblem index in folder.
std::string piece_path(const std::string& folder, std::size_t index);

// Whether path is a folder of trace pieces this program wrote.
bool is_trace_pieces_folder(const std::string& path);

// Makes an empty folder of trace pieces at path: a new one, or one this
// program wrote before, emptied; anything else there makes it fail.
Status fresh_pieces_folder(const std::string& path);

// Removes the folder at path if this program wrote it.
void remove_pieces_folder(const std::string& path);

// Flushes the pieces to the disk, so that a checkpoint never names a piece
// that a crash could lose.
void flush_pieces(const std::string& folder);

// A trace sink that streams its lines to a file through a buffer.
class PieceFile final : public TraceSink {
 public:
  explicit PieceFile(std::string path);
  PieceFile(const PieceFile&) = delete;
  PieceFile& operator=(const PieceFile&) = delete;
  ~PieceFile() override;
  void line(std::string_view text) override;
  // Flushes and closes; the system's error number, or 0.
  int close();

 private:
  void flush();
  std::string path_;
  std::string buffer_;
  int fd_ = -1;
  int error_ = 0;
};

}  // namespace tilvane
