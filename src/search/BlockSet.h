#pragma once
// A set of block numbers of one site's name index, as a bit map: what a
// query's terms leave for the scan to read.

#include <bit>
#include <cstdint>
#include <vector>

class CBlockSet
{
public:
    CBlockSet() = default;
    CBlockSet(size_t nBlocks, bool bAll) : m_nBlocks(nBlocks), m_bits((nBlocks + 63) / 64, 0)
    {
        if (bAll)
            Fill();
    }

    size_t Size() const { return m_nBlocks; }
    bool Has(size_t n) const { return (m_bits[n / 64] >> (n % 64)) & 1; }
    void Add(size_t n) { m_bits[n / 64] |= uint64_t{1} << (n % 64); }
    void Fill()
    {
        for (uint64_t& word : m_bits)
            word = ~uint64_t{0};
        Trim();
    }
    void Clear()
    {
        for (uint64_t& word : m_bits)
            word = 0;
    }
    void And(const CBlockSet& other)
    {
        for (size_t i = 0; i < m_bits.size(); ++i)
            m_bits[i] &= other.m_bits[i];
    }
    void Or(const CBlockSet& other)
    {
        for (size_t i = 0; i < m_bits.size(); ++i)
            m_bits[i] |= other.m_bits[i];
    }
    size_t Count() const
    {
        size_t n = 0;
        for (uint64_t word : m_bits)
            n += static_cast<size_t>(std::popcount(word));
        return n;
    }
    // The first member at or after n, or Size().
    size_t Next(size_t n) const
    {
        size_t nWord = n / 64;
        if (nWord >= m_bits.size())
            return m_nBlocks;
        uint64_t word = m_bits[nWord] & (~uint64_t{0} << (n % 64));
        while (word == 0)
        {
            if (++nWord >= m_bits.size())
                return m_nBlocks;
            word = m_bits[nWord];
        }
        return nWord * 64 + static_cast<size_t>(std::countr_zero(word));
    }

private:
    void Trim()
    {
        if (m_nBlocks % 64 != 0 && !m_bits.empty())
            m_bits.back() &= (uint64_t{1} << (m_nBlocks % 64)) - 1;
    }

    size_t m_nBlocks = 0;
    std::vector<uint64_t> m_bits;
};
