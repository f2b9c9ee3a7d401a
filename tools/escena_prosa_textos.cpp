// The prose that text pages are set in: headings and paragraphs of plain Spanish, written for the
// renderer, with accents, diaereses, eñes and the opening marks of questions and exclamations.
#include "escena_prosa.hpp"

namespace escena::interno {

const std::vector<std::string>& titulosDeProsa() {
    static const std::vector<std::string> titulos = {
        "Crónica del pueblo en otoño",
        "Notas de un viaje al norte",
        "Informe de la asociación de vecinos",
        "Apuntes sobre relojes y campanas",
        "Cartas desde la montaña",
        "Memoria anual de la biblioteca",
    };
    return titulos;
}

const std::vector<std::string>& parrafosDeProsa() {
    static const std::vector<std::string> parrafos = {
        "Cuando llegó el otoño, las calles del pueblo se llenaron de hojas secas y de un olor a leña "
        "quemada que venía de las chimeneas. La señora Pilar abría la panadería antes del amanecer, y los "
        "niños pasaban por delante camino de la escuela con las mochilas a la espalda. Nadie recordaba un "
        "año tan húmedo: el río había crecido dos veces en octubre y el puente viejo aguantó sin una sola "
        "grieta.",

        "El tren salió de la estación con veinte minutos de retraso. Desde la ventanilla se veían los "
        "campos de trigo ya cosechados, algunas cigüeñas sobre los campanarios y, al fondo, la sierra "
        "cubierta de niebla. En el vagón viajaban una familia con tres hijos pequeños, un músico que "
        "llevaba su guitarra en una funda de cuero y un señor mayor que leía el periódico sin levantar "
        "la vista.",

        "Para preparar el pan de la abuela hacen falta harina de trigo, agua tibia, sal y un poco de "
        "levadura. Se mezcla todo en un cuenco grande, se amasa durante diez minutos y se deja reposar "
        "tapado con un paño hasta que doble su tamaño. Después se le da forma, se hace un corte en la "
        "parte de arriba y se hornea a fuego fuerte. ¡Qué aroma tan agradable llena la cocina!",

        "La reunión de la asociación empezó a las siete de la tarde en el salón de actos. Se habló del "
        "alumbrado de la plaza, de la limpieza del parque y del mercado de los sábados. El tesorero "
        "explicó las cuentas del último trimestre y propuso comprar bancos nuevos. Tras una discusión "
        "larga pero amable, la propuesta se aprobó por mayoría y se acordó volver a reunirse en "
        "diciembre.",

        "Un reloj de péndulo mide el tiempo gracias a una oscilación casi constante. El péndulo va y "
        "viene, el escape deja avanzar el engranaje un diente cada vez y las agujas recorren la esfera "
        "con paciencia. Si la temperatura sube, la varilla se alarga un poco y el reloj atrasa; por eso "
        "los relojeros antiguos usaban metales distintos que se compensaban entre sí.",

        "Desde la cabaña se ve todo el valle. Por las mañanas bajo a buscar agua a la fuente y saludo al "
        "pastor, que sube con sus ovejas hacia los prados altos. Aquí arriba el silencio es enorme; solo "
        "se oye el viento entre los pinos y, de vez en cuando, el grito de un águila. ¿Sabes que anoche "
        "contamos más de cien estrellas fugaces?",

        "Durante el año pasado la biblioteca prestó casi doce mil libros y recibió la visita de muchos "
        "estudiantes que preparaban sus exámenes. Se organizaron talleres de lectura para niños, un club "
        "de novela policíaca y varias charlas sobre historia local. Gracias a una donación, la sala de "
        "estudio tiene ahora mesas más amplias, lámparas nuevas y enchufes para cargar los ordenadores.",

        "El pescador se sentó en la orilla con su caña y una cesta de mimbre. El agua bajaba clara y "
        "fría desde la montaña, y las truchas se escondían bajo las piedras. Esperó en silencio casi "
        "una hora, atento al menor movimiento del hilo. Al final no pescó nada, pero volvió a casa "
        "contento, porque había visto una nutria jugando en el remanso.",

        "En el huerto de la escuela los alumnos plantaron tomates, lechugas, calabazas y judías. Cada "
        "grupo se encargaba de regar un bancal y de apuntar en un cuaderno cuánto crecían las plantas. "
        "Aprendieron que el compost mejora la tierra, que las mariquitas se comen los pulgones y que "
        "las abejas son imprescindibles para que haya fruta. En junio repartieron la cosecha entre las "
        "familias.",

        "La profesora de piano insistía en que la música empieza por escuchar. Antes de tocar una "
        "pieza, pedía a sus alumnos que la cantaran en voz baja y que marcaran el compás con el pie. "
        "Decía que los dedos aprenden solos cuando el oído ya sabe adónde quiere ir. Muchos años "
        "después, sus antiguos alumnos todavía repetían aquella frase en sus propias clases.",

        "El puente de piedra se construyó hace más de tres siglos para unir las dos orillas del río. "
        "Tiene siete arcos de medio punto y unos tajamares que rompen la corriente en las crecidas. "
        "Durante mucho tiempo fue el único paso en varios kilómetros, y por él cruzaban arrieros, "
        "carros de bueyes y peregrinos. Hoy es un paseo tranquilo donde la gente se detiene a mirar "
        "el agua.",

        "Esa noche el observatorio abrió sus puertas al público. Con el telescopio grande se podían "
        "ver los anillos de Saturno y las cuatro lunas mayores de Júpiter, pequeñas como cabezas de "
        "alfiler. Una astrónoma explicó por qué la Luna nos enseña siempre la misma cara y cómo se "
        "calcula la distancia a las estrellas cercanas. Al salir, hacía frío y el cielo estaba "
        "limpísimo.",

        "El mercado de los sábados ocupa toda la plaza mayor. Hay puestos de fruta, de queso, de miel y "
        "de cerámica, y un hombre que arregla paraguas con una habilidad asombrosa. Los vendedores se "
        "conocen desde hace años y se guardan el sitio unos a otros. A mediodía, cuando el sol aprieta, "
        "todos se refugian bajo los toldos y comparten café y conversación.",

        "Mi cuñado decidió aprender a nadar con cuarenta y dos años. Al principio le daba miedo meter "
        "la cabeza bajo el agua, pero el monitor tuvo mucha paciencia con él. Empezó con una tabla, "
        "luego con un churro de espuma y, al cabo de tres meses, ya cruzaba la piscina sin ayuda. Dice "
        "que nunca se había sentido tan orgulloso de algo tan sencillo.",

        "La tormenta llegó sin avisar a media tarde. El cielo se oscureció de golpe, empezaron a caer "
        "gotas gruesas y enseguida granizó con fuerza sobre los tejados. Los vecinos recogieron la ropa "
        "tendida a toda prisa y los perros se escondieron debajo de las camas. Media hora después "
        "volvió a salir el sol, y un arcoíris enorme cruzó el valle de lado a lado.",

        "Según el pingüino de peluche que preside la estantería de mi sobrina, el mundo se divide en "
        "dos clases de personas: las que desayunan dulce y las que desayunan salado. Ella pertenece al "
        "primer grupo y defiende las tostadas con mermelada de ciruela con una seriedad admirable. Yo "
        "prefiero el pan con aceite y tomate, y discutimos sobre ello cada domingo.",
    };
    return parrafos;
}

}  // namespace escena::interno
