// An unbounded object grid stored as an array of columns (cell (c, r) is element r of
// column c) that grows in whole tiles in both directions: the allocated size is always a
// multiple of the tile size, and covers every coordinate stored so far.
//
//   KQUNonretainedMatrix2D<T> = KQUMatrix2DOf<T*>               (cells do not own)
//   KQUMatrix2D<T>            = KQUMatrix2DOf<std::shared_ptr<T>> (one reference per cell)
//
// Every 16-bit coordinate can be stored; sizes are 32-bit, so a store at column or row
// 65535 allocates 65536 (or more, for tile sizes that do not divide it) without wrapping.
// Reads outside the allocated size answer an empty cell. Visiting (forEach,
// addObjectsToArray, the enumerator) walks the populated area row by row, columns inside
// rows. See KQUMatrix.h for the common rules.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "kqutility/collections/KQUMatrix.h"
#include "kqutility/diagnostics/KQUAssertionHandler.h"

namespace kqu {

template <typename Cell>
class KQUMatrix2DOf;

// The accessor function of a two-dimensional matrix: an empty cell outside the allocated size.
template <typename Cell>
typename KQUMatrix<Cell>::Object* KQUNonretainedMatrix2DAccessObject(const KQUMatrix<Cell>& matrix,
                                                                     KQUMatrixCoordinates at) {
    const auto& columns = static_cast<const KQUMatrix2DOf<Cell>&>(matrix).buffer();
    if (at.column >= columns.size() || at.row >= columns[at.column].size()) return nullptr;
    return KQUMatrixCell<Cell>::address(columns[at.column][at.row]);
}

template <typename Cell>
class KQUMatrix2DEnumerator : public KQUMatrixEnumerator<Cell> {
public:
    explicit KQUMatrix2DEnumerator(const KQUMatrix2DOf<Cell>& matrix)
        : mSourceMatrix(matrix), mPopulatedSize(matrix.populatedSize()) {}
    Cell nextObject() override {
        while (mRow < mPopulatedSize.rows) {
            KQUMatrixCoordinates at{uint16_t(mColumn), uint16_t(mRow)};
            if (++mColumn >= mPopulatedSize.columns) mColumn = 0, ++mRow;
            if (Cell cell = mSourceMatrix.objectAt(at)) return cell;
        }
        return Cell();
    }

private:
    const KQUMatrix2DOf<Cell>& mSourceMatrix;
    KQUMatrixSize mPopulatedSize;  // at creation
    uint32_t mColumn = 0, mRow = 0;
};

template <typename Cell>
class KQUMatrix2DOf : public KQUMatrix<Cell> {
    using Traits = KQUMatrixCell<Cell>;

public:
    using Object = typename Traits::Object;
    using AccessorFunction = typename KQUMatrix<Cell>::AccessorFunction;
    static constexpr uint16_t kDefaultTileSize = 128;

    // A tile size of 0 means the default.
    explicit KQUMatrix2DOf(uint16_t tileSize = kDefaultTileSize)
        : mTileSize(tileSize ? tileSize : kDefaultTileSize) {}

    [[nodiscard]] size_t objectCount() const override {
        size_t n = 0;
        for (const auto& column : mMatrix)
            n += size_t(std::count_if(column.begin(), column.end(), [](const Cell& c) { return bool(c); }));
        return n;
    }
    [[nodiscard]] KQUMatrixSize populatedSize() const override { return mPopulatedSize; }
    [[nodiscard]] KQUMatrixSize allocatedSize() const { return mAllocatedSize; }
    [[nodiscard]] uint32_t tileSize() const { return mTileSize; }
    // The columns, each allocatedSize().rows cells long.
    [[nodiscard]] const std::vector<std::vector<Cell>>& buffer() const { return mMatrix; }

    Cell setObject(Cell object, KQUMatrixCoordinates at) override {
        if (!object && (at.column >= mAllocatedSize.columns || at.row >= mAllocatedSize.rows)) return Cell();
        if (!growToCoordinates(at)) return Cell();
        Cell previous = std::exchange(mMatrix[at.column][at.row], std::move(object));
        if (!previous && Traits::address(mMatrix[at.column][at.row])) {
            mPopulatedSize.columns = std::max<uint32_t>(mPopulatedSize.columns, at.column + 1u);
            mPopulatedSize.rows = std::max<uint32_t>(mPopulatedSize.rows, at.row + 1u);
        } else if (previous && !mMatrix[at.column][at.row] &&
                   (at.column + 1u == mPopulatedSize.columns || at.row + 1u == mPopulatedSize.rows)) {
            computePopulatedSizeFromScratch();
        }
        return previous;
    }

    [[nodiscard]] Cell objectAt(KQUMatrixCoordinates at) const override {
        if (at.column >= mAllocatedSize.columns || at.row >= mAllocatedSize.rows) return Cell();
        return mMatrix[at.column][at.row];
    }
    [[nodiscard]] AccessorFunction objectAccessorFunction() const override {
        return &KQUNonretainedMatrix2DAccessObject<Cell>;
    }

    void removeObject(const Object* object) override {
        if (!object) return;
        for (auto& column : mMatrix)
            for (Cell& cell : column)
                if (Traits::address(cell) == object) cell = Cell();
        computePopulatedSizeFromScratch();
    }
    void removeAllObjects() override {
        for (auto& column : mMatrix) std::fill(column.begin(), column.end(), Cell());
        mPopulatedSize = {};
    }

    void addObjectsToArray(std::vector<Cell>& array) const override {
        forEachCell([&](const Cell& cell) { array.push_back(cell); });
    }
    [[nodiscard]] std::unique_ptr<KQUMatrixEnumerator<Cell>> objectEnumerator() const override {
        return std::make_unique<KQUMatrix2DEnumerator<Cell>>(*this);
    }
    void forEach(const std::function<void(Object&)>& visit) const override {
        forEachCell([&](Cell cell) { visit(*cell); });  // a copy keeps the object alive meanwhile
    }

private:
    // Occupied cells of the populated area, row by row, read afresh at each step.
    template <typename F>
    void forEachCell(F&& f) const {
        for (uint32_t r = 0; r < mPopulatedSize.rows; ++r)
            for (uint32_t c = 0; c < mPopulatedSize.columns; ++c)
                if (c < mMatrix.size() && r < mMatrix[c].size() && mMatrix[c][r]) f(mMatrix[c][r]);
    }

    size_t roundUp(size_t index) const { return (index / mTileSize + 1) * mTileSize; }

    bool growToCoordinates(KQUMatrixCoordinates at) {
        if (at.column < mAllocatedSize.columns && at.row < mAllocatedSize.rows) return true;
        size_t rows =
            mMatrix.empty() ? roundUp(at.row) : roundUp(std::max<size_t>(mAllocatedSize.rows - 1, at.row));
        size_t columns = std::max<size_t>(mMatrix.size(), roundUp(at.column));
        try {
            if (rows > mAllocatedSize.rows)
                for (auto& column : mMatrix) column.resize(rows);
            if (columns > mMatrix.size()) mMatrix.resize(columns, std::vector<Cell>(rows));
        } catch (const std::bad_alloc&) {
            KQU_OBJECT_ASSERT_FAILURE("Unable to allocate enough memory - requested buffer size = {}",
                                      columns * rows * sizeof(Cell));
            return false;
        }
        mAllocatedSize = {uint32_t(columns), uint32_t(rows)};
        return true;
    }

    void computePopulatedSizeFromScratch() {
        mPopulatedSize = {};
        for (size_t c = 0; c < mMatrix.size(); ++c)
            for (size_t r = 0; r < mMatrix[c].size(); ++r)
                if (mMatrix[c][r]) {
                    mPopulatedSize.columns = uint32_t(c + 1);
                    mPopulatedSize.rows = std::max(mPopulatedSize.rows, uint32_t(r + 1));
                }
    }

    std::vector<std::vector<Cell>> mMatrix;
    KQUMatrixSize mAllocatedSize;
    KQUMatrixSize mPopulatedSize;
    uint32_t mTileSize;
};

template <typename T>
using KQUNonretainedMatrix2D = KQUMatrix2DOf<T*>;
template <typename T>
using KQUMatrix2D = KQUMatrix2DOf<std::shared_ptr<T>>;

}  // namespace kqu
