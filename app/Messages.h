// Every text that the front end itself answers.
#pragma once

inline constexpr const char* kCommandTypeNotFound = "Tipo de comando nao encontrado";
inline constexpr const char* kSubcommandTypeNotFound = "Tipo de sub-comando nao encontrado";
inline constexpr const char* kCommandNotFound = "Comando nao encontrado";
inline constexpr const char* kTokenNotFound = "Token Type ou Serial invalido";
inline constexpr const char* kUnknownError = "Erro desconhecido.";
inline constexpr const char* kUnknownException = "Unknown exception";
inline constexpr const char* kListNestedTooDeep = "Lista com aninhamento acima do limite";
