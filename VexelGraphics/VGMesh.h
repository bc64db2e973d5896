// A mesh: vertex arrays (positions, normals, colours, texture coordinates,
// or one interleaved float buffer holding several of them), a primitive and
// a vertex count, drawn with GL ES 1.1 client arrays.
//
// The mesh owns its arrays (clear() frees them). render() enables and
// points the client arrays the mesh has and disables those it lacks, except
// that it only points the texture-coordinate array: the render object
// decides whether texturing, and with it that array, is on. A count below 1
// draws nothing and touches no state. The count drawn never passes the
// number of vertices the arrays hold, so a count set too high cannot make
// GL read past them.
//
// Strides are in bytes, as GL takes them; 0 means tightly packed.
//
// Threads: render() on the context's thread; the rest anywhere, but not
// while another thread draws the mesh.
#ifndef VEXELGRAPHICS_VGMESH_H
#define VEXELGRAPHICS_VGMESH_H

#include <GLES/gl.h>

#include <cstdint>
#include <vector>

class VGRenderObject;

class VGMesh {
 public:
  VGMesh() = default;

  void setParent(VGRenderObject* parent) { parent_ = parent; }
  VGRenderObject* parent() const { return parent_; }

  // Frees the arrays (the interleaved buffer when there is one, else the
  // separate ones); the count becomes 0.
  void clear();
  void render();

  // A quad as a 4-vertex triangle strip in the plane z, centred on (x, y).
  void generateQuadZ(float x, float y, float z, float width, float height);
  // A quad as a 4-vertex triangle strip in the plane y, centred on (x, z).
  void generateQuadY(float x, float y, float z, float width, float depth);

  // Separate arrays: 3 floats per position and normal, 4 bytes per colour,
  // 2 floats per texture coordinate.
  void setPositions(std::vector<float> positions, int stride = 0);
  void setNormals(std::vector<float> normals, int stride = 0);
  void setColors(std::vector<std::uint8_t> colours, int stride = 0);
  void setTexCoords(std::vector<float> texCoords, int stride = 0);
  // One buffer of floatsPerVertex floats per vertex: the position at
  // positionOffset, the normal at normalOffset and the texture coordinates
  // at texCoordOffset (in floats; -1 = not in the buffer). Replaces every
  // array.
  void setInterleaved(std::vector<float> buffer, int floatsPerVertex, int positionOffset,
                      int normalOffset, int texCoordOffset);

  void setPrimitive(GLenum primitive) { primitive_ = primitive; }
  GLenum primitive() const { return primitive_; }
  void setVertexCount(int count) { count_ = count; }
  int vertexCount() const { return count_; }
  // The count render() draws: the vertex count, limited to what every
  // present array holds.
  int drawableCount() const;

  const std::vector<float>& positions() const { return positions_; }
  const std::vector<float>& normals() const { return normals_; }
  const std::vector<std::uint8_t>& colours() const { return colours_; }
  const std::vector<float>& texCoords() const { return texCoords_; }

 private:
  // One client array as GL sees it.
  struct Stream {
    const void* data = nullptr;  // none when null
    std::size_t bytes = 0;       // from data to the end of its storage
    int stride = 0;              // bytes; 0 = packed
    int elementBytes = 0;        // bytes of one vertex's element
    int vertices() const;
  };
  Stream positionStream() const;
  Stream normalStream() const;
  Stream colourStream() const;
  Stream texCoordStream() const;
  Stream interleavedStream(int offset, int components) const;

  VGRenderObject* parent_ = nullptr;
  std::vector<float> positions_;
  std::vector<float> normals_;
  std::vector<std::uint8_t> colours_;
  std::vector<float> texCoords_;
  std::vector<float> interleaved_;
  int floatsPerVertex_ = 0;
  int positionOffset_ = -1;
  int normalOffset_ = -1;
  int texCoordOffset_ = -1;
  int positionStride_ = 0;
  int normalStride_ = 0;
  int colourStride_ = 0;
  int texCoordStride_ = 0;
  GLenum primitive_ = GL_TRIANGLES;
  int count_ = 0;
};

#endif
