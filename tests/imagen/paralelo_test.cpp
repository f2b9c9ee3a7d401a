#include "imagen/paralelo.hpp"

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(EnDosMitades, CadaParteUnaVezYAmbasTerminadasAlVolver) {
    // With a second thread and, turned off, both halves on this one.
    for (const bool aLaVez : {true, false}) {
        for (int n : {0, 1, 2, 7, 1000}) {
            SCOPED_TRACE(std::to_string(n) + (aLaVez ? " a la vez" : " una tras otra"));
            dosMitadesALaVez = aLaVez;
            const auto aqui = std::this_thread::get_id();
            std::atomic<int> fuera{0};
            std::vector<int> vistas(static_cast<std::size_t>(n), 0);
            std::atomic<int> llamadas{0};
            enDosMitades(n, [&](int desde, int hasta) {
                ++llamadas;
                fuera += std::this_thread::get_id() != aqui;
                for (int i = desde; i < hasta; ++i) ++vistas[static_cast<std::size_t>(i)];
            });
            EXPECT_EQ(llamadas.load(), 2);
            EXPECT_EQ(fuera.load(), aLaVez ? 1 : 0);
            for (int v : vistas) EXPECT_EQ(v, 1);
        }
    }
    dosMitadesALaVez = true;
}

TEST(EnDosMitades, UnFalloDeCualquierMitadLlegaAlQueLlamaConLaOtraTerminada) {
    // The failing half is the one on this thread and then the one on the other; the other half
    // is done by the time the failure arrives.
    for (const bool primera : {true, false}) {
        SCOPED_TRACE(primera ? "primera mitad" : "segunda mitad");
        std::atomic<bool> otraTerminada{false};
        const auto trabajo = [&](int desde, int) {
            const bool falla = (desde == 0) == primera;
            if (falla) throw std::runtime_error("mitad rota");
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            otraTerminada = true;
        };
        EXPECT_THROW(enDosMitades(10, trabajo), std::runtime_error);
        EXPECT_TRUE(otraTerminada.load());
    }
}

}  // namespace
