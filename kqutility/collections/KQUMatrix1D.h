// A bounded object grid stored as one row-major array that grows in tiles of rows: cell
// (c, r) lives at index r x maxColumns + c, and the array holds min(maxRows, tiles x
// rowsPerTile) x maxColumns cells. Rows and columns can be inserted, removed and swapped.
//
//   KQUNonretainedMatrix1D<T> = KQUMatrix1DOf<T*>               (cells do not own)
//   KQUMatrix1D<T>            = KQUMatrix1DOf<std::shared_ptr<T>> (one reference per cell)
//
// The maximum size is fixed at construction. Coordinates outside it are reported to
// KQUAssertionHandler and nothing is stored (reads answer an empty cell). Callers keep
// insertions within the maximum size; cells pushed past it are dropped (uncounted and, in
// the retaining form, released), and the populated size never exceeds the maximum.
// After every insertion, removal or swap the populated size is the bounding box again.
// Copying a matrix copies its cells (the retaining form takes one more reference per
// cell). See KQUMatrix.h for the common rules.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "kqutility/collections/KQUMatrix.h"
#include "kqutility/diagnostics/KQUAssertionHandler.h"

namespace kqu {

template <typename Cell>
class KQUMatrix1DOf;

// The accessor function of a one-dimensional matrix (its objectAccessorFunction()): out-of-
// range coordinates are reported naming this function; cells outside the populated size
// read as nullptr.
template <typename Cell>
typename KQUMatrix<Cell>::Object* KQUNonretainedMatrix1DAccessObject(const KQUMatrix<Cell>& matrix,
                                                                     KQUMatrixCoordinates at);

template <typename Cell>
class KQUMatrix1DEnumerator : public KQUMatrixEnumerator<Cell> {
public:
    explicit KQUMatrix1DEnumerator(const KQUMatrix1DOf<Cell>& matrix)
        : mSourceMatrix(matrix), mSize(matrix.bufferSize()) {}
    Cell nextObject() override { return nextObjectWithPosition().second; }
    // (index, object) of the next occupied cell; (0, empty) at the end.
    std::pair<size_t, Cell> nextObjectWithPosition() {
        while (mPosition < std::min(mSize, mSourceMatrix.bufferSize())) {
            size_t i = mPosition++;
            const Cell& cell = mSourceMatrix.buffer()[i];
            if (cell) return {i, cell};
        }
        return {0, Cell()};
    }
    // (coordinates, object) of the next occupied cell; ((0, 0), empty) at the end.
    std::pair<KQUMatrixCoordinates, Cell> nextObjectWithPositionAsCoordinates() {
        auto [index, cell] = nextObjectWithPosition();
        if (!cell) return {{}, Cell()};
        return {mSourceMatrix.KQUMatrix1DIndexAsCoordinates(index), std::move(cell)};
    }

private:
    const KQUMatrix1DOf<Cell>& mSourceMatrix;
    size_t mSize;  // the buffer size at creation: later growth is not walked
    size_t mPosition = 0;
};

template <typename Cell>
class KQUMatrix1DOf : public KQUMatrix<Cell> {
    using Traits = KQUMatrixCell<Cell>;

public:
    using Object = typename Traits::Object;
    using Set = typename Traits::Set;
    using AccessorFunction = typename KQUMatrix<Cell>::AccessorFunction;
    static constexpr uint16_t kDefaultRowsPerTile = 128;

    // A rowsPerTile of 0 means the default. Preallocation grows at once to the last row.
    KQUMatrix1DOf(uint16_t rowsPerTile, uint16_t maxRows, uint16_t maxColumns, bool preallocate)
        : mNumberOfRowsPerTile(rowsPerTile ? rowsPerTile : kDefaultRowsPerTile),
          mMaxSize{maxColumns, maxRows} {
        if (preallocate && maxRows > 0) growToRowIndex(maxRows - 1u);
    }
    KQUMatrix1DOf(uint16_t maxRows, uint16_t maxColumns, bool preallocate = false)
        : KQUMatrix1DOf(kDefaultRowsPerTile, maxRows, maxColumns, preallocate) {}
    explicit KQUMatrix1DOf(KQUMatrixSize maxSize, bool preallocate = false)
        : KQUMatrix1DOf(clampedDimension(maxSize.rows), clampedDimension(maxSize.columns), preallocate) {}
    // The cells of rect in source, read through the source's own bounds (cells outside its
    // storage are empty), placed at (0, 0) of a new matrix of maxSize; what does not fit in
    // maxSize is left out.
    template <typename SourceCell>
    KQUMatrix1DOf(const KQUMatrix1DOf<SourceCell>& source, KQUMatrixRect rect, KQUMatrixSize maxSize)
        : KQUMatrix1DOf(maxSize) {
        size_t width = std::min<size_t>(rect.size.columns, mMaxSize.columns);
        size_t height = std::min<size_t>(rect.size.rows, mMaxSize.rows);
        if (width == 0 || height == 0 || !growToRowIndex(height - 1)) return;
        for (size_t i = 0; i < height; ++i)
            for (size_t j = 0; j < width; ++j) {
                const SourceCell* cell =
                    source.storedCell(size_t(rect.origin.column) + j, size_t(rect.origin.row) + i);
                if (!cell || !*cell) continue;
                mMatrix[i * mMaxSize.columns + j] = convertCell(*cell);
                ++mObjectCount;
            }
        computePopulatedSizeFromScratch();
    }

    [[nodiscard]] size_t objectCount() const override { return mObjectCount; }
    [[nodiscard]] KQUMatrixSize populatedSize() const override { return mPopulatedSize; }
    [[nodiscard]] KQUMatrixSize maxSize() const { return mMaxSize; }
    [[nodiscard]] std::span<const Cell> buffer() const { return mMatrix; }
    [[nodiscard]] size_t bufferSize() const { return mMatrix.size(); }
    [[nodiscard]] KQUMatrixCoordinates KQUMatrix1DIndexAsCoordinates(size_t index) const {
        if (mMaxSize.columns == 0) return {};
        return {uint16_t(index % mMaxSize.columns), uint16_t(index / mMaxSize.columns)};
    }

    Cell setObject(Cell object, KQUMatrixCoordinates at) override {
        if (at.column >= mMaxSize.columns) {
            KQU_OBJECT_ASSERT_FAILURE("column index ({}) beyond bounds (must be < {})", at.column,
                                      mMaxSize.columns);
            return Cell();
        }
        if (at.row >= mMaxSize.rows) {
            KQU_OBJECT_ASSERT_FAILURE("row index ({}) beyond bounds (must be < {})", at.row, mMaxSize.rows);
            return Cell();
        }
        if (!growToRowIndex(at.row)) return Cell();
        Cell& cell = mMatrix[index(at.column, at.row)];
        if (Traits::address(cell) == Traits::address(object)) return object;
        Cell previous = std::exchange(cell, std::move(object));
        if (!previous) {
            mPopulatedSize.columns = std::max<uint32_t>(mPopulatedSize.columns, at.column + 1u);
            mPopulatedSize.rows = std::max<uint32_t>(mPopulatedSize.rows, at.row + 1u);
            ++mObjectCount;
        } else if (!cell) {
            handleRemovalOfObjectAt(at.column, at.row);
            lowerObjectCount(1);
        }
        return previous;
    }

    [[nodiscard]] Cell objectAt(KQUMatrixCoordinates at) const override {
        if (at.column >= mMaxSize.columns) {
            KQU_OBJECT_ASSERT_FAILURE("column index ({}) beyond bounds (must be < {})", at.column,
                                      mMaxSize.columns);
            return Cell();
        }
        if (at.row >= mMaxSize.rows) {
            KQU_OBJECT_ASSERT_FAILURE("row index ({}) beyond bounds (must be < {})", at.row, mMaxSize.rows);
            return Cell();
        }
        if (at.column >= mPopulatedSize.columns || at.row >= mPopulatedSize.rows) return Cell();
        return mMatrix[index(at.column, at.row)];
    }

    [[nodiscard]] AccessorFunction objectAccessorFunction() const override {
        return &KQUNonretainedMatrix1DAccessObject<Cell>;
    }

    void removeObject(const Object* object) override {
        if (!object) return;
        size_t removed = 0;
        for (Cell& cell : mMatrix)
            if (Traits::address(cell) == object) {
                cell = Cell();
                ++removed;
            }
        lowerObjectCount(removed);
        computePopulatedSizeFromScratch();
    }

    void removeAllObjects() override {
        size_t cleared = 0;
        for (Cell& cell : mMatrix)
            if (cell) {
                cell = Cell();
                ++cleared;
            }
        if (mObjectCount != cleared) KQU_OBJECT_ASSERT_FAILURE("Matrix object count out of sync!");
        mObjectCount = 0;
        mPopulatedSize = {};
    }

    void addObjectsToArray(std::vector<Cell>& array) const override {
        for (const Cell& cell : mMatrix)
            if (cell) array.push_back(cell);
    }

    [[nodiscard]] std::unique_ptr<KQUMatrixEnumerator<Cell>> objectEnumerator() const override {
        return std::make_unique<KQUMatrix1DEnumerator<Cell>>(*this);
    }
    [[nodiscard]] KQUMatrix1DEnumerator<Cell> positionEnumerator() const {
        return KQUMatrix1DEnumerator<Cell>(*this);
    }

    // Buffer cells in index order; the visitor may change the matrix.
    void forEach(const std::function<void(Object&)>& visit) const override {
        for (size_t i = 0; i < mMatrix.size(); ++i) {
            Cell cell = mMatrix[i];  // keeps the object alive should the visitor remove it
            if (cell) visit(*cell);
        }
    }

    // Inserts count empty rows before row, moving the cells of columns
    // fromColumn..toColumn of that row and below down by count.
    void insertRowsBeforeRowIndex(uint16_t count, uint16_t row, uint16_t fromColumn, uint16_t toColumn) {
        if (count == 0 || row >= mPopulatedSize.rows || mMaxSize.columns == 0) return;
        size_t lastColumn = std::min<size_t>(toColumn, mMaxSize.columns - 1u);
        if (fromColumn > lastColumn) return;
        if (!growToRowIndex(std::min<size_t>(mPopulatedSize.rows + size_t(count), mMaxSize.rows) - 1)) return;
        size_t width = lastColumn - fromColumn + 1;
        for (size_t r = mPopulatedSize.rows; r-- > row;) {
            auto source = mMatrix.begin() + ptrdiff_t(index(fromColumn, r));
            size_t target = r + count;
            if (target < mMaxSize.rows)
                std::move(source, source + ptrdiff_t(width),
                          mMatrix.begin() + ptrdiff_t(index(fromColumn, target)));
            else
                lowerObjectCount(clearCells(source, width));  // pushed past the last row
            std::fill(source, source + ptrdiff_t(width), Cell());
        }
        computePopulatedSizeFromScratch();
    }
    void insertRowsBeforeRowIndex(uint16_t count, uint16_t row) {
        insertRowsBeforeRowIndex(count, row, 0, uint16_t(mMaxSize.columns ? mMaxSize.columns - 1 : 0));
    }

    // Inserts count empty columns before column in rows fromRow..toRow, moving the cells
    // at and right of it right by count; cells pushed past the last column are dropped.
    void insertColumnsBeforeColumnIndex(uint16_t count, uint16_t column, uint16_t fromRow, uint16_t toRow) {
        if (count == 0 || column >= mPopulatedSize.columns) return;
        size_t columns = mMaxSize.columns;
        size_t rowEnd = std::min<size_t>(size_t(toRow) + 1, mPopulatedSize.rows);
        size_t kept =
            column + size_t(count) < columns ? columns - count - column : 0;  // cells that stay in the row
        if (kept == 0 && fromRow < rowEnd) KQU_OBJECT_ASSERT_FAILURE("Trying to memmove a 0-length region.");
        for (size_t r = fromRow; r < rowEnd; ++r) {
            auto rowStart = mMatrix.begin() + ptrdiff_t(index(0, r));
            lowerObjectCount(clearCells(rowStart + ptrdiff_t(column + kept), columns - column - kept));
            std::move_backward(rowStart + ptrdiff_t(column), rowStart + ptrdiff_t(column + kept),
                               rowStart + ptrdiff_t(columns));
            std::fill(rowStart + ptrdiff_t(column),
                      rowStart + ptrdiff_t(std::min(column + size_t(count), columns)), Cell());
        }
        computePopulatedSizeFromScratch();
    }
    void insertColumnsBeforeColumnIndex(uint16_t count, uint16_t column) {
        insertColumnsBeforeColumnIndex(count, column, 0, uint16_t(mMaxSize.rows ? mMaxSize.rows - 1 : 0));
    }

    // Empties rows row..row + count - 1 and moves the rows below up into their place;
    // answers the objects removed, or nothing when row lies past the populated rows.
    std::optional<Set> removeRowsAtRowIndex(uint16_t count, uint16_t row) {
        if (row >= mPopulatedSize.rows) return std::nullopt;
        size_t populatedRows = mPopulatedSize.rows,
               stop = std::min<size_t>(size_t(row) + count, populatedRows);
        Set removed;
        for (size_t r = row; r < stop; ++r)
            for (size_t c = 0; c < mPopulatedSize.columns; ++c) collect(mMatrix[index(c, r)], removed);
        size_t k = stop - row;
        auto begin = mMatrix.begin();
        std::move(begin + ptrdiff_t(index(0, stop)), begin + ptrdiff_t(index(0, populatedRows)),
                  begin + ptrdiff_t(index(0, row)));
        std::fill(begin + ptrdiff_t(index(0, populatedRows - k)), begin + ptrdiff_t(index(0, populatedRows)),
                  Cell());
        computePopulatedSizeFromScratch();
        return removed;
    }

    // Empties columns column..column + count - 1 of the populated rows and moves the
    // columns to their right left into their place; answers the objects removed, or
    // nothing when column lies past the populated columns.
    std::optional<Set> removeColumnsAtColumnIndex(uint16_t count, uint16_t column) {
        if (column >= mPopulatedSize.columns) return std::nullopt;
        size_t populatedColumns = mPopulatedSize.columns;
        size_t stop = std::min<size_t>(size_t(column) + count, populatedColumns), k = stop - column;
        Set removed;
        for (size_t r = 0; r < mPopulatedSize.rows; ++r) {
            auto rowStart = mMatrix.begin() + ptrdiff_t(index(0, r));
            for (size_t c = column; c < stop; ++c) collect(rowStart[ptrdiff_t(c)], removed);
            std::move(rowStart + ptrdiff_t(stop), rowStart + ptrdiff_t(populatedColumns),
                      rowStart + ptrdiff_t(column));
            std::fill(rowStart + ptrdiff_t(populatedColumns - k), rowStart + ptrdiff_t(populatedColumns),
                      Cell());
        }
        computePopulatedSizeFromScratch();
        return removed;
    }

    void swapRow(uint16_t row, uint16_t withRow) {
        for (uint16_t r : {row, withRow})
            if (r >= mMaxSize.rows) {
                KQU_OBJECT_ASSERT_FAILURE("row index ({}) beyond bounds (must be < {})", r, mMaxSize.rows);
                return;
            }
        auto [low, high] = std::minmax(row, withRow);
        if (low >= mPopulatedSize.rows || low == high || !growToRowIndex(high)) return;
        auto begin = mMatrix.begin();
        std::swap_ranges(begin + ptrdiff_t(index(0, low)), begin + ptrdiff_t(index(0, low + 1u)),
                         begin + ptrdiff_t(index(0, high)));
        computePopulatedSizeFromScratch();
    }

    // A matrix of the same maximum size holding the cells of rect at (0, 0): the retaining
    // form (for shared cells) or one that does not own its objects. A rectangle reaching
    // past the maximum size is reported; its cells there are empty.
    [[nodiscard]] KQUMatrix1DOf subMatrixForMatrixRect(KQUMatrixRect rect) const {
        checkRect(rect);
        return KQUMatrix1DOf(*this, rect, mMaxSize);
    }
    [[nodiscard]] KQUMatrix1DOf<Object*> nonretainedSubMatrixForMatrixRect(KQUMatrixRect rect) const {
        checkRect(rect);
        return KQUMatrix1DOf<Object*>(*this, rect, mMaxSize);
    }

private:
    template <typename>
    friend class KQUMatrix1DOf;
    friend typename KQUMatrix<Cell>::Object* KQUNonretainedMatrix1DAccessObject<Cell>(const KQUMatrix<Cell>&,
                                                                                      KQUMatrixCoordinates);

    static uint16_t clampedDimension(uint32_t v) { return uint16_t(std::min<uint32_t>(v, 0xFFFF)); }

    template <typename SourceCell>
    static Cell convertCell(const SourceCell& cell) {
        if constexpr (std::is_pointer_v<Cell>)
            return KQUMatrixCell<SourceCell>::address(cell);
        else
            return cell;
    }

    size_t index(size_t column, size_t row) const { return row * mMaxSize.columns + column; }

    // The stored cell, or nullptr outside the maximum size or the storage; never reports.
    const Cell* storedCell(size_t column, size_t row) const {
        if (column >= mMaxSize.columns || row >= mMaxSize.rows) return nullptr;
        size_t i = index(column, row);
        return i < mMatrix.size() ? &mMatrix[i] : nullptr;
    }

    bool growToRowIndex(size_t row) {
        if (row >= mMaxSize.rows) {
            KQU_OBJECT_ASSERT_FAILURE("rowIndex ({}) beyond bounds (must be < {})", row, mMaxSize.rows);
            return false;
        }
        size_t tiles = row / mNumberOfRowsPerTile + 1;
        if (tiles <= mNumberOfTiles) return true;
        size_t cells = std::min<size_t>(mMaxSize.rows, tiles * mNumberOfRowsPerTile) * mMaxSize.columns;
        try {
            mMatrix.resize(cells);
        } catch (const std::bad_alloc&) {
            KQU_OBJECT_ASSERT_FAILURE("Unable to allocate enough memory - requested buffer size = {}",
                                      cells * sizeof(Cell));
            return false;
        }
        mNumberOfTiles = tiles;
        return true;
    }

    // Empties width cells from first on; answers how many held an object.
    static size_t clearCells(typename std::vector<Cell>::iterator first, size_t width) {
        size_t cleared = 0;
        for (size_t i = 0; i < width; ++i)
            if (first[ptrdiff_t(i)]) {
                first[ptrdiff_t(i)] = Cell();
                ++cleared;
            }
        return cleared;
    }

    void collect(Cell& cell, Set& removed) {
        if (!cell) return;
        removed.addObject(std::move(cell));
        cell = Cell();
        lowerObjectCount(1);
    }

    void lowerObjectCount(size_t by) {
        if (by > mObjectCount) {
            KQU_OBJECT_ASSERT_FAILURE("Matrix object count out of sync!");
            mObjectCount = 0;
        } else {
            mObjectCount -= by;
        }
    }

    bool rowHasObject(size_t row, size_t columns) const {
        for (size_t c = 0; c < columns; ++c)
            if (mMatrix[index(c, row)]) return true;
        return false;
    }
    bool columnHasObject(size_t column, size_t rows) const {
        for (size_t r = 0; r < rows; ++r)
            if (mMatrix[index(column, r)]) return true;
        return false;
    }

    // After cell (column, row) was emptied: shrink the populated size past emptied edges.
    void handleRemovalOfObjectAt(size_t column, size_t row) {
        size_t rowsBefore = mPopulatedSize.rows;
        if (row + 1 == mPopulatedSize.rows) {
            size_t r = row + 1;
            while (r > 0 && !rowHasObject(r - 1, mPopulatedSize.columns)) --r;
            mPopulatedSize.rows = uint32_t(r);
        }
        if (column + 1 == mPopulatedSize.columns) {
            size_t c = column + 1;
            while (c > 0 && !columnHasObject(c - 1, rowsBefore)) --c;
            mPopulatedSize.columns = uint32_t(c);
        }
    }

    void computePopulatedSizeFromScratch() {
        mPopulatedSize = {};
        for (size_t i = 0; i < mMatrix.size(); ++i)
            if (mMatrix[i]) {
                mPopulatedSize.rows = uint32_t(i / mMaxSize.columns + 1);
                mPopulatedSize.columns = std::max(mPopulatedSize.columns, uint32_t(i % mMaxSize.columns + 1));
            }
    }

    void checkRect(const KQUMatrixRect& rect) const {
        if (size_t(rect.origin.column) + rect.size.columns > mMaxSize.columns)
            KQU_OBJECT_ASSERT_FAILURE("Rect ({}) exceeds maximum number of columns for matrix ({})",
                                      KQUMatrixRectDescription(rect), mMaxSize.columns);
        if (size_t(rect.origin.row) + rect.size.rows > mMaxSize.rows)
            KQU_OBJECT_ASSERT_FAILURE("Rect ({}) exceeds maximum number of rows for matrix ({})",
                                      KQUMatrixRectDescription(rect), mMaxSize.rows);
    }

    std::vector<Cell> mMatrix;
    size_t mNumberOfTiles = 0;
    uint32_t mNumberOfRowsPerTile;
    KQUMatrixSize mMaxSize;
    KQUMatrixSize mPopulatedSize;
    size_t mObjectCount = 0;
};

template <typename T>
using KQUNonretainedMatrix1D = KQUMatrix1DOf<T*>;
template <typename T>
using KQUMatrix1D = KQUMatrix1DOf<std::shared_ptr<T>>;

template <typename Cell>
typename KQUMatrix<Cell>::Object* KQUNonretainedMatrix1DAccessObject(const KQUMatrix<Cell>& matrix,
                                                                     KQUMatrixCoordinates at) {
    const auto& m = static_cast<const KQUMatrix1DOf<Cell>&>(matrix);
    if (at.column >= m.mMaxSize.columns) [[unlikely]] {
        KQU_ASSERT_FAILURE("column index ({}) beyond bounds (must be < {})", at.column, m.mMaxSize.columns);
        return nullptr;
    }
    if (at.row >= m.mMaxSize.rows) [[unlikely]] {
        KQU_ASSERT_FAILURE("row index ({}) beyond bounds (must be < {})", at.row, m.mMaxSize.rows);
        return nullptr;
    }
    if (at.column >= m.mPopulatedSize.columns || at.row >= m.mPopulatedSize.rows) return nullptr;
    return KQUMatrixCell<Cell>::address(m.mMatrix[m.index(at.column, at.row)]);
}

}  // namespace kqu
