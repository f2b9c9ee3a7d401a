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

TEST(EnCadena, LoQueSeUsaYaEstaHecho) {
    // What usar reads after esperar(k) is what hacer wrote before avisar(k), whether the two run
    // at once or one after the other; hacer pauses now and then so that usar does wait.
    for (const bool aLaVez : {true, false}) {
        SCOPED_TRACE(aLaVez ? "a la vez" : "una tras otra");
        dosMitadesALaVez = aLaVez;
        const auto aqui = std::this_thread::get_id();
        constexpr int kTotal = 2000;
        std::vector<int> valores(kTotal, 0);
        bool hechoFuera = false;
        int leidos = 0;
        enCadena(
            [&](const auto& avisar) {
                hechoFuera = std::this_thread::get_id() != aqui;
                for (int i = 0; i < kTotal; ++i) {
                    valores[static_cast<std::size_t>(i)] = i + 1;
                    if (i % 100 == 99) {
                        avisar(i + 1);
                        if (i % 500 == 499) std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    }
                }
            },
            [&](const Espera& esperar) {
                for (int i = 0; i < kTotal; ++i) {
                    esperar(i + 1);
                    leidos += valores[static_cast<std::size_t>(i)] == i + 1;
                }
            });
        EXPECT_EQ(leidos, kTotal);
        EXPECT_EQ(hechoFuera, aLaVez);
    }
    dosMitadesALaVez = true;
}

TEST(EnCadena, UnFalloDeCualquierLadoLlegaAlQueLlamaSinQuedarseEsperando) {
    // hacer fails halfway: usar, waiting for what will never be made, is let go, and the failure
    // arrives here.
    bool usarTermino = false;
    EXPECT_THROW(enCadena(
                     [](const auto& avisar) {
                         avisar(5);
                         throw std::runtime_error("hacer roto");
                     },
                     [&](const Espera& esperar) {
                         esperar(100);
                         usarTermino = true;
                     }),
                 std::runtime_error);
    EXPECT_TRUE(usarTermino);
    // usar fails: hacer is over by the time the failure arrives.
    std::atomic<bool> hacerTermino{false};
    EXPECT_THROW(enCadena(
                     [&](const auto& avisar) {
                         std::this_thread::sleep_for(std::chrono::milliseconds(20));
                         avisar(1);
                         hacerTermino = true;
                     },
                     [](const Espera&) { throw std::runtime_error("usar roto"); }),
                 std::runtime_error);
    EXPECT_TRUE(hacerTermino.load());
}

}  // namespace
