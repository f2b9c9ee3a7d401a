#include "imagen/memoria.hpp"

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Sizes no plane of the other tests has, so that their blocks do not mix with these.
constexpr std::size_t kTamano = (std::size_t{3} << 20) + 12345;
constexpr std::size_t kOtroTamano = (std::size_t{5} << 20) + 777;

TEST(BloquesGrandes, UnBloqueDevueltoVuelveParaElMismoTamanoYNoParaOtro) {
    void* a = reservarBloqueGrande(kTamano);
    ASSERT_NE(a, nullptr);
    std::memset(a, 0x5A, kTamano);
    liberarBloqueGrande(a, kTamano);
    EXPECT_GE(bytesGuardados(), kTamano);

    void* otro = reservarBloqueGrande(kOtroTamano);
    ASSERT_NE(otro, nullptr);
    EXPECT_NE(otro, a);
    void* b = reservarBloqueGrande(kTamano);
    EXPECT_EQ(b, a);  // the kept one, still whole and writable
    std::memset(b, 0x11, kTamano);
    liberarBloqueGrande(b, kTamano);
    liberarBloqueGrande(otro, kOtroTamano);
}

TEST(BloquesGrandes, UnBloqueChicoSirveAUnoMenorYSeGuardaConSuTamano) {
    // A kept block of small pages serves a smaller request that has none of its own size, and
    // comes back at its own size: what is kept adds up, and the block serves its own size again,
    // whole.
    constexpr std::size_t kGrande = (std::size_t{3} << 20) + 4321;
    constexpr std::size_t kChico = (std::size_t{1} << 20) + 999;
    void* a = reservarBloqueGrande(kGrande);
    ASSERT_NE(a, nullptr);
    liberarBloqueGrande(a, kGrande);
    const std::size_t conA = bytesGuardados();
    void* b = reservarBloqueGrande(kChico);
    ASSERT_NE(b, nullptr);
    std::memset(b, 0x22, kChico);
    EXPECT_LT(bytesGuardados(), conA);  // a kept block was lent
    liberarBloqueGrande(b, kChico);
    EXPECT_EQ(bytesGuardados(), conA);
    void* c = reservarBloqueGrande(kGrande);
    EXPECT_EQ(c, a);
    std::memset(c, 0x33, kGrande);
    liberarBloqueGrande(c, kGrande);
    EXPECT_EQ(bytesGuardados(), conA);
}

TEST(BloquesGrandes, LoGuardadoNoPasaDelTopeAunqueSeDevuelvaMucho) {
    // Half again the cap, in blocks of one size, all given back at once.
    const std::size_t cuantos = kGuardadoMaximo / kTamano * 3 / 2 + 1;
    std::vector<void*> bloques;
    for (std::size_t i = 0; i < cuantos; ++i) {
        bloques.push_back(reservarBloqueGrande(kTamano));
        ASSERT_NE(bloques.back(), nullptr);
        static_cast<std::uint8_t*>(bloques.back())[kTamano - 1] = 1;
    }
    for (void* b : bloques) liberarBloqueGrande(b, kTamano);
    EXPECT_LE(bytesGuardados(), kGuardadoMaximo);
    EXPECT_GT(bytesGuardados(), kGuardadoMaximo / 2);
    // A block too large to keep goes straight back.
    const std::size_t antes = bytesGuardados();
    const std::size_t enorme = kGuardadoMaximo + (std::size_t{1} << 20);
    void* e = reservarBloqueGrande(enorme);
    ASSERT_NE(e, nullptr);
    liberarBloqueGrande(e, enorme);
    EXPECT_EQ(bytesGuardados(), antes);
}

TEST(BloquesGrandes, VariosHilosNoSeDanElMismoBloque) {
    // Each thread marks its block with its own byte and checks it is still there before giving it
    // back: a block handed to two threads at once would show the other's mark.
    constexpr int kHilos = 4, kVueltas = 200;
    std::vector<int> fallos(kHilos, 0);
    std::vector<std::thread> hilos;
    for (int h = 0; h < kHilos; ++h) {
        hilos.emplace_back([h, &fallos] {
            const auto marca = static_cast<std::uint8_t>(h + 1);
            for (int v = 0; v < kVueltas; ++v) {
                auto* p = static_cast<std::uint8_t*>(reservarBloqueGrande(kTamano));
                if (p == nullptr) {
                    ++fallos[h];
                    continue;
                }
                std::memset(p, marca, 4096);
                std::this_thread::yield();
                for (int i = 0; i < 4096; ++i) fallos[h] += p[i] != marca;
                liberarBloqueGrande(p, kTamano);
            }
        });
    }
    for (std::thread& t : hilos) t.join();
    for (int h = 0; h < kHilos; ++h) EXPECT_EQ(fallos[h], 0) << "hilo " << h;
}

}  // namespace
