#include "VexelGraphics/VGMesh.h"

#include <algorithm>
#include <climits>
#include <utility>

int VGMesh::Stream::vertices() const {
  if (!data || bytes < static_cast<std::size_t>(elementBytes)) return 0;
  const std::size_t step =
      stride > 0 ? static_cast<std::size_t>(stride) : static_cast<std::size_t>(elementBytes);
  const std::size_t count = (bytes - static_cast<std::size_t>(elementBytes)) / step + 1;
  return static_cast<int>(std::min<std::size_t>(count, INT_MAX));
}

VGMesh::Stream VGMesh::interleavedStream(int offset, int components) const {
  Stream stream;
  if (interleaved_.empty() || offset < 0 || floatsPerVertex_ <= 0 ||
      static_cast<std::size_t>(offset) >= interleaved_.size()) {
    return stream;
  }
  stream.data = interleaved_.data() + offset;
  stream.bytes = (interleaved_.size() - static_cast<std::size_t>(offset)) * sizeof(float);
  stream.stride = floatsPerVertex_ * static_cast<int>(sizeof(float));
  stream.elementBytes = components * static_cast<int>(sizeof(float));
  return stream;
}

namespace {

template <typename T>
void describe(const std::vector<T>& array, int stride, int components, const void** data,
              std::size_t* bytes, int* strideOut, int* elementBytes) {
  if (array.empty()) return;
  *data = array.data();
  *bytes = array.size() * sizeof(T);
  *strideOut = stride;
  *elementBytes = components * static_cast<int>(sizeof(T));
}

}  // namespace

VGMesh::Stream VGMesh::positionStream() const {
  if (!interleaved_.empty()) return interleavedStream(positionOffset_, 3);
  Stream s;
  describe(positions_, positionStride_, 3, &s.data, &s.bytes, &s.stride, &s.elementBytes);
  return s;
}

VGMesh::Stream VGMesh::normalStream() const {
  if (!interleaved_.empty()) return interleavedStream(normalOffset_, 3);
  Stream s;
  describe(normals_, normalStride_, 3, &s.data, &s.bytes, &s.stride, &s.elementBytes);
  return s;
}

VGMesh::Stream VGMesh::colourStream() const {
  Stream s;
  if (!interleaved_.empty()) return s;
  describe(colours_, colourStride_, 4, &s.data, &s.bytes, &s.stride, &s.elementBytes);
  return s;
}

VGMesh::Stream VGMesh::texCoordStream() const {
  if (!interleaved_.empty()) return interleavedStream(texCoordOffset_, 2);
  Stream s;
  describe(texCoords_, texCoordStride_, 2, &s.data, &s.bytes, &s.stride, &s.elementBytes);
  return s;
}

void VGMesh::clear() {
  if (!interleaved_.empty()) {
    interleaved_ = {};
  } else {
    positions_ = {};
    normals_ = {};
    colours_ = {};
    texCoords_ = {};
  }
  floatsPerVertex_ = 0;
  positionOffset_ = normalOffset_ = texCoordOffset_ = -1;
  count_ = 0;
}

int VGMesh::drawableCount() const {
  if (count_ < 1) return 0;
  int count = count_;
  const Stream position = positionStream();
  // Without positions there is nothing to draw.
  if (!position.data) return 0;
  for (const Stream& stream : {position, normalStream(), colourStream(), texCoordStream()}) {
    if (stream.data) count = std::min(count, stream.vertices());
  }
  return count;
}

void VGMesh::render() {
  const int count = drawableCount();
  if (count < 1) return;
  const Stream position = positionStream();
  glEnableClientState(GL_VERTEX_ARRAY);
  glVertexPointer(3, GL_FLOAT, position.stride, position.data);
  const Stream normal = normalStream();
  if (normal.data) {
    glEnableClientState(GL_NORMAL_ARRAY);
    glNormalPointer(GL_FLOAT, normal.stride, normal.data);
  } else {
    glDisableClientState(GL_NORMAL_ARRAY);
  }
  const Stream colour = colourStream();
  if (colour.data) {
    glEnableClientState(GL_COLOR_ARRAY);
    glColorPointer(4, GL_UNSIGNED_BYTE, colour.stride, colour.data);
  } else {
    glDisableClientState(GL_COLOR_ARRAY);
  }
  const Stream texCoord = texCoordStream();
  if (texCoord.data) {
    glTexCoordPointer(2, GL_FLOAT, texCoord.stride, texCoord.data);
  } else {
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  }
  glDrawArrays(primitive_, 0, count);
}

void VGMesh::setPositions(std::vector<float> positions, int stride) {
  interleaved_ = {};
  positions_ = std::move(positions);
  positionStride_ = std::max(stride, 0);
}

void VGMesh::setNormals(std::vector<float> normals, int stride) {
  interleaved_ = {};
  normals_ = std::move(normals);
  normalStride_ = std::max(stride, 0);
}

void VGMesh::setColors(std::vector<std::uint8_t> colours, int stride) {
  interleaved_ = {};
  colours_ = std::move(colours);
  colourStride_ = std::max(stride, 0);
}

void VGMesh::setTexCoords(std::vector<float> texCoords, int stride) {
  interleaved_ = {};
  texCoords_ = std::move(texCoords);
  texCoordStride_ = std::max(stride, 0);
}

void VGMesh::setInterleaved(std::vector<float> buffer, int floatsPerVertex, int positionOffset,
                            int normalOffset, int texCoordOffset) {
  positions_ = {};
  normals_ = {};
  colours_ = {};
  texCoords_ = {};
  interleaved_ = std::move(buffer);
  floatsPerVertex_ = floatsPerVertex;
  // An element that would not fit inside one vertex's floats is ignored.
  auto fits = [floatsPerVertex](int offset, int components) {
    return offset >= 0 && offset + components <= floatsPerVertex ? offset : -1;
  };
  positionOffset_ = fits(positionOffset, 3);
  normalOffset_ = fits(normalOffset, 3);
  texCoordOffset_ = fits(texCoordOffset, 2);
}

void VGMesh::generateQuadZ(float x, float y, float z, float width, float height) {
  clear();
  const float w = width / 2.0f, h = height / 2.0f;
  positions_ = {x - w, y - h, z, x - w, y + h, z, x + w, y - h, z, x + w, y + h, z};
  normals_ = {0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1};
  texCoords_ = {0.01f, 0.99f, 0.01f, 0.01f, 0.99f, 0.99f, 0.99f, 0.01f};
  positionStride_ = normalStride_ = texCoordStride_ = 0;
  primitive_ = GL_TRIANGLE_STRIP;
  count_ = 4;
}

void VGMesh::generateQuadY(float x, float y, float z, float width, float depth) {
  clear();
  const float w = width / 2.0f, d = depth / 2.0f;
  positions_ = {x - w, y, z - d, x - w, y, z + d, x + w, y, z - d, x + w, y, z + d};
  normals_ = {0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1};
  texCoords_ = {0, 0, 0, 1, 1, 0, 1, 1};
  positionStride_ = normalStride_ = texCoordStride_ = 0;
  primitive_ = GL_TRIANGLE_STRIP;
  count_ = 4;
}
