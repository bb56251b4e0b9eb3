#pragma once

// The user-facing texts of start-up, exactly as the server has always shown them.
namespace lumbrio::mensajes {

/// Refusal of a second copy on the same machine; the carriage return starts the second line.
inline constexpr const char *SegundaInstancia =
    "No se permite ejecutar más de una vez en una máquina\r      el Servidor lumbrio de precios";

/// Any failure to reach the data server at start.
inline constexpr const char *SinServidorDatos = "No se encontro Srv_Drel.exe en ejecución";

/// Failure to open the listener; %1 is the port, %2 the operating system's reason.
inline constexpr const char *PuertoNoDisponible = "No se pudo abrir el puerto %1: %2";

/// The single argument that turns on debug mode.
inline constexpr const char *ArgumentoDebug = "DEBUG";

} // namespace lumbrio::mensajes
