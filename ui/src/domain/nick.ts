/** The launcher applies the same rule and silently drops a nick that fails it. */
export const NICK_MIN = 2;
export const NICK_MAX = 20;

const WORD = /^[A-Za-z0-9]+$/;

export function isValidNick(nick: string): boolean {
  return nickProblem(nick) === null;
}

export const NICK_RULE =
  'Имя и фамилия через одно подчёркивание (Ivan_Petrov) или одно имя: от 2 до 20 латинских букв или цифр.';

/**
 * Says in the player's words what is wrong with a nick, or null when it is
 * fine. The checks run in the order a player fixes them while typing.
 */
export function nickProblem(nick: string): string | null {
  if (nick === '') return 'Введите ник.';
  if (/[^A-Za-z0-9_]/.test(nick)) return 'Только латинские буквы, цифры и одно подчёркивание.';
  if (nick.length < NICK_MIN) return 'Слишком коротко: нужно хотя бы 2 символа.';
  if (nick.length > NICK_MAX) return `Слишком длинно: не больше 20 символов (сейчас ${nick.length}).`;
  const parts = nick.split('_');
  if (parts.length > 2) return 'Подчёркивание может быть только одно.';
  if (parts.length === 2) {
    const [first, last] = parts as [string, string];
    if (first.length < NICK_MIN || last.length < NICK_MIN || !WORD.test(first) || !WORD.test(last)) {
      return 'Имя и фамилия — хотя бы по 2 символа с каждой стороны от подчёркивания.';
    }
  }
  return null;
}
